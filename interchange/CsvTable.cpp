#include "interchange/CsvTable.h"

CsvTable::CsvTable(const QByteArray& csv, qsizetype maxFieldBytes) : m_reader(csv, maxFieldBytes) {}

bool CsvTable::fail(qsizetype line, const QString& error)
{
    m_line = line;
    m_error = error;
    return false;
}

bool CsvTable::readHeader(const QStringList& known, const QStringList& required)
{
    m_known = known;
    m_positions.assign(size_t(known.size()), -1);
    QStringList fields;
    if (!m_reader.next(fields))
        return m_reader.error().isEmpty() ? fail(0, QStringLiteral("the file is empty: no header"))
                                          : fail(m_reader.line(), m_reader.error());
    m_line = m_reader.line();
    m_width = fields.size();
    for (qsizetype i = 0; i < m_width; ++i) {
        const QString name = fields.at(i).trimmed();
        qsizetype column = 0;
        while (column < known.size() && name.compare(known.at(column), Qt::CaseInsensitive) != 0)
            ++column;
        if (column == known.size()) {
            const QString knownColumns = known.join(QStringLiteral(", "));
            return fail(m_line,
                        QStringLiteral("unknown column \"%1\" in the header (%2)").arg(name, knownColumns));
        }
        if (m_positions[size_t(column)] >= 0)
            return fail(m_line, QStringLiteral("column %1 named twice in the header").arg(name));
        m_positions[size_t(column)] = i;
    }
    for (const QString& column : required) {
        if (position(column) < 0)
            return fail(m_line, QStringLiteral("the header lacks the column %1").arg(column));
    }
    return true;
}

qsizetype CsvTable::position(const QString& column) const
{
    const qsizetype at = m_known.indexOf(column);
    return at < 0 ? -1 : m_positions[size_t(at)];
}

bool CsvTable::next(QStringList& fields)
{
    while (m_reader.next(fields)) {
        if (fields.size() == 1 && fields.front().isEmpty() && m_width > 1) {
            if (m_blankLine == 0)
                m_blankLine = m_reader.line();
            continue;
        }
        if (m_blankLine > 0)
            return fail(m_blankLine, QStringLiteral("%1 fields where the header has %2")
                                         .arg(QString::number(1), QString::number(m_width)));
        if (fields.size() != m_width)
            return fail(m_reader.line(), QStringLiteral("%1 fields where the header has %2")
                                             .arg(QString::number(fields.size()), QString::number(m_width)));
        m_line = m_reader.line();
        return true;
    }
    if (!m_reader.error().isEmpty())
        return fail(m_reader.line(), m_reader.error());
    return false;
}
