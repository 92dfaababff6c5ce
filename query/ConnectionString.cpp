#include "query/ConnectionString.h"

#include "platform/Blanks.h"
#include "platform/DatabaseError.h"

namespace {

[[noreturn]] void malformed()
{
    throw DatabaseError(QStringLiteral("Format of the initialization string is not valid."));
}

// Only blanks and control characters surround a bare value: the terminal quotes a path
// that begins or ends with one of these and no other, so any other space belongs to it.
using Blanks::isBlank;
using Blanks::trimmed;

} // namespace

ConnectionString::ConnectionString(const QString& text)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype keyStart = i;
        while (i < n && text[i] != u'=' && text[i] != u';')
            ++i;
        const QString key = trimmed(QStringView(text).sliced(keyStart, i - keyStart));
        if (i >= n || text[i] == u';') {
            if (!key.isEmpty())
                malformed();
            ++i;
            continue;
        }
        ++i; // '='
        while (i < n && isBlank(text[i]) && text[i] != u';')
            ++i;
        QString value;
        // A single quote is an ordinary character: a folder may begin with one.
        if (i < n && text[i] == u'"') {
            const QChar quote = text[i++];
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                malformed();
            while (i < n && isBlank(text[i]) && text[i] != u';')
                ++i;
            if (i < n && text[i] != u';')
                malformed();
        } else {
            const qsizetype valueStart = i;
            while (i < n && text[i] != u';')
                ++i;
            value = trimmed(QStringView(text).sliced(valueStart, i - valueStart));
        }
        ++i; // ';' or end
        if (key.isEmpty())
            malformed();
        m_pairs.append({key, value});
    }
}

QString ConnectionString::value(const QString& key) const
{
    QString result;
    for (const auto& pair : m_pairs)
        if (pair.first.compare(key, Qt::CaseInsensitive) == 0)
            result = pair.second;
    return result;
}

bool ConnectionString::namesServer() const
{
    return value(QStringLiteral("Provider")).compare(kPostgresProvider, Qt::CaseInsensitive) == 0;
}

namespace {

bool needsQuoting(const QString& path)
{
    return path.contains(u';') || path.contains(u'"') ||
           (!path.isEmpty() && (Blanks::isBlank(path.front()) || Blanks::isBlank(path.back())));
}

} // namespace

QString ConnectionString::forFile(const QString& path)
{
    QString source = path;
    if (needsQuoting(path))
        source = u'"' + QString(path).replace(u'"', QStringLiteral("\"\"")) + u'"';
    return QStringLiteral(
               "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Mode=Read|Write;Persist Security Info=False")
        .arg(source);
}

QString ConnectionString::forServer(const QString& conninfo)
{
    const QString source = u'"' + QString(conninfo).replace(u'"', QStringLiteral("\"\"")) + u'"';
    return QStringLiteral("Provider=%1;Data Source=%2").arg(kPostgresProvider, source);
}
