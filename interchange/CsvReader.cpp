#include "interchange/CsvReader.h"

#include "platform/TextExcerpt.h"

#include <QStringDecoder>

#include <algorithm>

CsvReader::CsvReader(QByteArray data, qsizetype maxFieldBytes)
    : m_data(std::move(data)), m_maxFieldBytes(maxFieldBytes)
{
    if (m_data.startsWith("\xEF\xBB\xBF"))
        m_pos = 3;
}

bool CsvReader::fail(const QString& message)
{
    m_error = message;
    m_failed = true;
    return false;
}

bool CsvReader::endField(QByteArray& field, QStringList& fields)
{
    if (m_maxFieldBytes > 0 && field.size() > m_maxFieldBytes) {
        // Only the start is quoted: the message must not repeat megabytes of a field.
        QStringDecoder start(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        return fail(
            QStringLiteral("field %1 is %2 bytes long, more than the %3 a field may hold; it begins %4")
                .arg(QString::number(fields.size() + 1), QString::number(field.size()),
                     QString::number(m_maxFieldBytes),
                     TextExcerpt::quoted(QString(start.decode(
                         field.first(qMin(field.size(), qsizetype(4 * TextExcerpt::kMaxCharacters))))))));
    }
    // Most fields are ASCII, which needs no decoder.
    if (std::all_of(field.cbegin(), field.cend(), [](char c) { return uchar(c) < 0x80; })) {
        fields.append(QString::fromLatin1(field));
        field.clear();
        return true;
    }
    // A byte order mark inside the data is text: only the one at the very start is skipped.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(field);
    if (decoder.hasError())
        return fail(QStringLiteral("field %1 is not UTF-8 text").arg(fields.size() + 1));
    fields.append(std::move(text));
    field.clear();
    return true;
}

bool CsvReader::skipLineBreak()
{
    if (m_pos >= m_data.size())
        return false;
    if (m_data[m_pos] == '\r') {
        ++m_pos;
        if (m_pos < m_data.size() && m_data[m_pos] == '\n')
            ++m_pos;
    } else if (m_data[m_pos] == '\n') {
        ++m_pos;
    } else {
        return false;
    }
    ++m_line;
    return true;
}

bool CsvReader::next(QStringList& fields)
{
    fields.clear();
    if (m_failed || m_pos >= m_data.size())
        return false;
    m_recordLine = m_line;
    const qsizetype size = m_data.size();
    const char* data = m_data.constData();
    QByteArray field;
    for (;;) {
        if (m_pos < size && data[m_pos] == '"') {
            // Quoted field: up to the quote that is not doubled.
            ++m_pos;
            for (;;) {
                if (m_pos >= size)
                    return fail(QStringLiteral("a quoted field is not closed"));
                const char c = data[m_pos];
                if (c == '"') {
                    if (m_pos + 1 < size && data[m_pos + 1] == '"') {
                        field.append('"');
                        m_pos += 2;
                        continue;
                    }
                    ++m_pos;
                    break;
                }
                if (c == '\n' || (c == '\r' && !(m_pos + 1 < size && data[m_pos + 1] == '\n')))
                    ++m_line;
                field.append(c);
                ++m_pos;
            }
            if (m_pos < size && data[m_pos] != ',' && data[m_pos] != '\r' && data[m_pos] != '\n')
                return fail(
                    QStringLiteral("text after the closing quote of field %1").arg(fields.size() + 1));
        } else {
            const qsizetype start = m_pos;
            while (m_pos < size && data[m_pos] != ',' && data[m_pos] != '\r' && data[m_pos] != '\n') {
                if (data[m_pos] == '"')
                    return fail(QStringLiteral("a quote inside field %1, which is not quoted")
                                    .arg(fields.size() + 1));
                ++m_pos;
            }
            field = QByteArray(data + start, m_pos - start);
        }
        if (!endField(field, fields))
            return false;
        if (m_pos < size && data[m_pos] == ',') {
            ++m_pos;
            continue;
        }
        skipLineBreak();
        return true;
    }
}
