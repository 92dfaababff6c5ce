#include "db/ConnectionString.h"

#include "platform/EOleException.h"

namespace {

[[noreturn]] void malformed()
{
    throw EOleException(QStringLiteral("Format of the initialization string is not valid."));
}

} // namespace

ConnectionString::ConnectionString(const QString& text)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype keyStart = i;
        while (i < n && text[i] != u'=' && text[i] != u';')
            ++i;
        const QString key = text.mid(keyStart, i - keyStart).trimmed();
        if (i >= n || text[i] == u';') {
            if (!key.isEmpty())
                malformed();
            ++i;
            continue;
        }
        ++i; // '='
        while (i < n && text[i].isSpace() && text[i] != u';')
            ++i;
        QString value;
        if (i < n && (text[i] == u'"' || text[i] == u'\'')) {
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
            while (i < n && text[i].isSpace())
                ++i;
            if (i < n && text[i] != u';')
                malformed();
        } else {
            const qsizetype valueStart = i;
            while (i < n && text[i] != u';')
                ++i;
            value = text.mid(valueStart, i - valueStart).trimmed();
        }
        ++i; // ';' or end
        if (key.isEmpty())
            malformed();
        m_pairs.append({key, value});
    }
}

bool ConnectionString::contains(const QString& key) const
{
    for (const auto& pair : m_pairs)
        if (pair.first.compare(key, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString ConnectionString::value(const QString& key) const
{
    QString result;
    for (const auto& pair : m_pairs)
        if (pair.first.compare(key, Qt::CaseInsensitive) == 0)
            result = pair.second;
    return result;
}
