#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// "\Software\Vendor" -> "Software/Vendor"
QString groupOf(const QString& keyPath)
{
    QString group = keyPath;
    group.replace(u'\\', u'/');
    while (group.startsWith(u'/'))
        group.remove(0, 1);
    while (group.endsWith(u'/'))
        group.chop(1);
    return group;
}

#ifndef Q_OS_WIN
QByteArray sectionHeader(const QString& group)
{
    return '[' + group.toUtf8() + ']';
}

bool fileHasSection(const QString& path, const QString& group)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = sectionHeader(group);
    while (!file.atEnd()) {
        if (file.readLine().trimmed() == header)
            return true;
    }
    return false;
}

bool appendSection(const QString& path, const QString& group)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        return false;
    QByteArray text;
    if (file.size() > 0) {
        file.seek(file.size() - 1);
        if (file.read(1) != "\n")
            text += '\n';
    }
    text += sectionHeader(group) + '\n';
    return file.write(text) == text.size() && file.flush();
}
#endif

} // namespace

SettingsStore::SettingsStore() = default;
SettingsStore::~SettingsStore() = default;

QString SettingsStore::userStorePath()
{
#ifdef Q_OS_WIN
    return {};
#else
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tavelo"),
                     QStringLiteral("registry"))
        .fileName();
#endif
}

bool SettingsStore::openKey(const QString& keyPath, bool canCreate)
{
    closeKey();
    const QString group = groupOf(keyPath);
    if (group.isEmpty())
        return false;
#ifdef Q_OS_WIN
    HKEY key = nullptr;
    const std::wstring subKey = QString(group).replace(u'/', u'\\').toStdWString();
    LONG rc = canCreate ? RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                          nullptr, &key, nullptr)
                        : RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    m_settings = std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\") + QString(group).replace(u'/', u'\\'), QSettings::NativeFormat);
    return true;
#else
    const QString path = userStorePath();
    bool exists = false;
    if (QFileInfo(path).isFile()) {
        QSettings probe(path, QSettings::IniFormat);
        if (probe.status() != QSettings::NoError)
            return false;
        probe.beginGroup(group);
        exists =
            !probe.childKeys().isEmpty() || !probe.childGroups().isEmpty() || fileHasSection(path, group);
    } else if (QFileInfo::exists(path)) {
        return false; // a folder or something else where the file belongs
    }
    if (!exists && (!canCreate || !appendSection(path, group)))
        return false;
    m_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    if (m_settings->status() != QSettings::NoError) {
        m_settings.reset();
        return false;
    }
    m_settings->beginGroup(group);
    return true;
#endif
}

void SettingsStore::closeKey()
{
    m_settings.reset();
}

QString SettingsStore::readString(const QString& name) const
{
    if (!m_settings)
        return {};
    const QVariant value = m_settings->value(name);
    if (value.typeId() != QMetaType::QString)
        return {};
    return value.toString();
}
