#include "query/DatabaseTarget.h"

#include "platform/Blanks.h"
#include "platform/SettingsStore.h"
#include "query/BackendFactory.h"
#include "query/ConnectionString.h"

#include <QRegularExpression>

#include <memory>

const QString DatabaseTarget::kKeyPath = QStringLiteral("\\Software\\Tavelo");
const QString DatabaseTarget::kValueName = QStringLiteral("database");

namespace {

bool looksLikeServer(const QString& text)
{
    static const QRegularExpression keywordValue(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*\\s*="));
    // libpq takes the URI prefixes in lower case only.
    return text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://")) ||
           keywordValue.match(text).hasMatch();
}

QString quoted(const QByteArray& value)
{
    QString text = QString::fromUtf8(value);
    text.replace(u'\\', QStringLiteral("\\\\"));
    text.replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + text + u'\'';
}

} // namespace

DatabaseTarget DatabaseTarget::file(const QString& path)
{
    DatabaseTarget target;
    target.m_kind = Kind::File;
    target.m_text = path;
    target.m_display = path;
    return target;
}

DatabaseTarget DatabaseTarget::parse(const QString& text)
{
    const QString trimmed = Blanks::trimmed(text);
    if (trimmed.isEmpty())
        return {};
    if (!looksLikeServer(trimmed))
        return file(trimmed);

    DatabaseTarget target;
    target.m_kind = Kind::Server;
    const std::optional<std::vector<ServerTextOption>> options =
        BackendFactory::readServerText(trimmed.toUtf8());
    if (!options) {
        target.m_problem = QStringLiteral("The server connection text cannot be read: check its "
                                          "keywords, quotes and %-escapes.");
        target.m_display = QStringLiteral("(unreadable server connection text)");
        return target;
    }
    QStringList all;
    QStringList shown;
    for (const ServerTextOption& option : *options) {
        const QString pair = QString::fromUtf8(option.keyword) + u'=' + quoted(option.value);
        all.append(pair);
        if (!option.secret)
            shown.append(pair);
    }
    target.m_text = all.join(u' ');
    target.m_display = shown.join(u' ');
    return target;
}

DatabaseTarget DatabaseTarget::configured()
{
    SettingsStore store;
    QString value;
    if (store.openKey(kKeyPath, false))
        value = store.readString(kValueName);
    store.closeKey();
    return parse(value);
}

DatabaseTarget DatabaseTarget::chosen(const DatabaseTarget& commandLine)
{
    return commandLine.isNone() ? configured() : commandLine;
}

QString DatabaseTarget::connectionString() const
{
    switch (m_kind) {
    case Kind::File:
        return ConnectionString::forFile(m_text);
    case Kind::Server:
        return isValid() ? ConnectionString::forServer(m_text) : QString();
    case Kind::None:
        break;
    }
    return {};
}
