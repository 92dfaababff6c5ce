#include "platform/SettingsStore.h"

#include "platform/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// "\Software\Vendor" -> "Software/Vendor", case kept: the header a new key gets.
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

bool holdsMoreThanBlanks(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > u' ')
            return true;
    }
    return false;
}

#ifndef Q_OS_WIN
struct StoreFile
{
    enum class State
    {
        Missing,
        Read,
        Unusable // a folder where the file belongs, or a file that cannot be read
    };
    State state = State::Missing;
    IniFile ini;
};

StoreFile loadStore(const QString& path)
{
    StoreFile store;
    if (path.isEmpty() || !QFileInfo::exists(path))
        return store;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        store.state = StoreFile::State::Unusable;
        return store;
    }
    store.ini = IniFile::parse(file.readAll());
    store.state = StoreFile::State::Read;
    return store;
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
    text += '[' + group.toUtf8() + "]\n";
    return file.write(text) == text.size() && file.flush();
}
#else
std::wstring subKeyOf(const QString& group)
{
    return QString(group).replace(u'/', u'\\').toStdWString();
}

bool hiveHasKey(HKEY hive, const QString& group)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, subKeyOf(group).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

QString hiveString(const char* hive, const QString& group, const QString& name)
{
    const QSettings key(QString::fromLatin1(hive) + u'\\' + QString(group).replace(u'/', u'\\'),
                        QSettings::NativeFormat);
    const QVariant value = key.value(name);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}
#endif

} // namespace

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

QString SettingsStore::systemStorePath()
{
#ifdef Q_OS_WIN
    return {};
#else
    // XDG: the first entry is the most important; relative entries are invalid.
    QString base;
    for (const QString& dir : qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir)) {
            base = dir;
            break;
        }
    }
    if (base.isEmpty())
        base = QStringLiteral("/etc/xdg");
    return base + QStringLiteral("/tavelo/registry.ini");
#endif
}

bool SettingsStore::openKey(const QString& keyPath, bool canCreate)
{
    closeKey();
    const QString group = groupOf(keyPath);
    if (IniFile::normalizedPath(group).isEmpty())
        return false;
#ifdef Q_OS_WIN
    HKEY key = nullptr;
    const std::wstring subKey = subKeyOf(group);
    const LONG rc = canCreate ? RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0,
                                                KEY_ALL_ACCESS, nullptr, &key, nullptr)
                              : RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
    bool exists = rc == ERROR_SUCCESS;
    if (exists)
        RegCloseKey(key);
    else
        exists = hiveHasKey(HKEY_LOCAL_MACHINE, group);
#else
    const QString path = userStorePath();
    const StoreFile user = loadStore(path);
    bool exists = user.state == StoreFile::State::Read && user.ini.hasKey(group);
    if (!exists && canCreate && user.state != StoreFile::State::Unusable)
        exists = appendSection(path, group);
    if (!exists) {
        const StoreFile machine = loadStore(systemStorePath());
        exists = machine.state == StoreFile::State::Read && machine.ini.hasKey(group);
    }
#endif
    if (exists)
        m_keyPath = group;
    return exists;
}

void SettingsStore::closeKey()
{
    m_keyPath.clear();
}

QString SettingsStore::readString(const QString& name) const
{
    if (!isOpen())
        return {};
#ifdef Q_OS_WIN
    for (const char* hive : {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}) {
        const QString value = hiveString(hive, m_keyPath, name);
        if (holdsMoreThanBlanks(value))
            return value;
    }
#else
    for (const QString& path : {userStorePath(), systemStorePath()}) {
        const StoreFile store = loadStore(path);
        if (store.state != StoreFile::State::Read)
            continue;
        const std::optional<QString> value = store.ini.stringValue(m_keyPath, name);
        if (value && holdsMoreThanBlanks(*value))
            return *value;
    }
#endif
    return {};
}
