#include "interchange/AttendanceExport.h"

#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/DateTimeCoercion.h"
#include "query/DateTimeValue.h"
#include "query/DbBackend.h"
#include "query/DbCursor.h"
#include "query/ServerFeatures.h"
#include "query/SqlStatementPlan.h"
#include "query/Statements.h"
#include "platform/ConversionError.h"
#include "platform/Gbk.h"
#include "platform/TextExcerpt.h"

#include <algorithm>
#include <memory>

namespace {

// Output is handed on in pieces of about this size.
constexpr qsizetype kChunk = 64 * 1024;

// The statement and its parameters for a selection of records. The instants are compared
// as a whole, D+T, so that a record counts by the moment of the swipe; the end date is
// inclusive, hence "before the next midnight".
struct Selection
{
    QString sql;
    QList<std::pair<QString, QString>> parameters;
};

Selection select(const QString& columns, const AttendanceExport::Filter& filter, const QString& order)
{
    Selection selection;
    QStringList conditions;
    if (filter.from.isValid()) {
        conditions.append(QStringLiteral("(D+T) >= :from_instant"));
        selection.parameters.append(
            {QStringLiteral("from_instant"), filter.from.toString(QStringLiteral("yyyy-MM-dd"))});
    }
    if (filter.to.isValid()) {
        conditions.append(QStringLiteral("(D+T) < :to_instant"));
        selection.parameters.append(
            {QStringLiteral("to_instant"), filter.to.addDays(1).toString(QStringLiteral("yyyy-MM-dd"))});
    }
    if (!filter.num.isEmpty()) {
        conditions.append(QStringLiteral("num = :num"));
        selection.parameters.append({Statements::kNum, filter.num});
    }
    selection.sql = columns + QStringLiteral(" FROM sgdjb");
    if (!conditions.isEmpty())
        selection.sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    selection.sql += order;
    return selection;
}

// A date/time cell as the file back end holds it: whole seconds, or a text in the forms
// the provider coerces.
qint64 seconds(const DbCursor& cursor, int column)
{
    switch (cursor.columnType(column)) {
    case DbCursor::Type::Integer:
        return cursor.columnInt64(column);
    case DbCursor::Type::Float:
        return qint64(cursor.columnDouble(column));
    case DbCursor::Type::Text: {
        const QString text = cursor.columnText(column);
        if (const auto value = DateTimeCoercion::parse(text))
            return value->seconds();
        throw ConversionError(QStringLiteral("'%1' is not a valid date and time").arg(text));
    }
    default:
        return 0;
    }
}

// The same selection for a server's COPY, which takes no parameters: the values are
// written in as literals.
QByteArray serverCopy(ServerFeatures& server, const AttendanceExport::Filter& filter)
{
    QByteArrayList conditions;
    if (filter.from.isValid())
        conditions.append("(d + t) >= " + server.literal(filter.from.toString(QStringLiteral("yyyy-MM-dd"))) +
                          "::timestamp");
    if (filter.to.isValid())
        conditions.append("(d + t) < " +
                          server.literal(filter.to.addDays(1).toString(QStringLiteral("yyyy-MM-dd"))) +
                          "::timestamp");
    if (!filter.num.isEmpty())
        conditions.append("num = " + server.literal(filter.num));
    // Written by to_char, not by the session's DateStyle, which is the server's to choose.
    QByteArray sql = "COPY (SELECT num, name, pg_catalog.to_char(d + t, 'YYYY-MM-DD'), "
                     "pg_catalog.to_char(d + t, 'HH24:MI:SS') FROM sgdjb";
    if (!conditions.isEmpty())
        sql += " WHERE " + conditions.join(" AND ");
    return sql + " ORDER BY (d + t), num) TO STDOUT";
}

// Days since 1970-01-01 to a calendar date (proleptic Gregorian), written as yyyy-mm-dd.
void appendDate(QByteArray& out, qint64 days)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 mp = (5 * dayOfYear + 2) / 153;
    const int day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    const qint64 year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 0 || year > 9999) {
        out += QByteArray::number(year) + '-';
    } else {
        const char y[4] = {char('0' + year / 1000), char('0' + year / 100 % 10), char('0' + year / 10 % 10),
                           char('0' + year % 10)};
        out.append(y, 4);
        out += '-';
    }
    const char md[5] = {char('0' + month / 10), char('0' + month % 10), '-', char('0' + day / 10),
                        char('0' + day % 10)};
    out.append(md, 5);
}

void appendTime(QByteArray& out, qint64 seconds)
{
    const int h = int(seconds / 3600);
    const int m = int(seconds / 60 % 60);
    const int s = int(seconds % 60);
    const char text[8] = {char('0' + h / 10), char('0' + h % 10), ':',
                          char('0' + m / 10), char('0' + m % 10), ':',
                          char('0' + s / 10), char('0' + s % 10)};
    out.append(text, 8);
}

// Thrown from inside the row loop to stop it at a value GBK cannot hold.
struct Unmappable
{
    QString message;
};

// Builds the output record by record, in UTF-8, and hands it on in pieces.
class Writer
{
public:
    Writer(const AttendanceExport::Options& options, const AttendanceExport::Sink& sink,
           const AttendanceExport::Progress& progress)
        : m_options(options), m_sink(sink), m_progress(progress)
    {
        m_pending.reserve(kChunk + 4096);
        m_pending += "num,name,date,time\r\n";
    }

    // One record: num and name in UTF-8, and appendInstant writing its date and time.
    template <typename Instant> void record(QByteArrayView num, QByteArrayView name, Instant appendInstant)
    {
        ++m_records;
        if (m_options.encoding == AttendanceExport::Encoding::Gbk) {
            checkGbk(num, QStringLiteral("num"), num, name);
            checkGbk(name, QStringLiteral("name"), num, name);
        }
        CsvWriter::appendField(m_pending, num, m_options.cells);
        m_pending += ',';
        CsvWriter::appendField(m_pending, name, m_options.cells);
        m_pending += ',';
        appendInstant(m_pending);
        m_pending += "\r\n";
        if (m_pending.size() >= kChunk)
            flush();
        if (m_progress)
            m_progress(m_records);
    }

    void flush()
    {
        if (m_pending.isEmpty())
            return;
        m_sink(m_options.encoding == AttendanceExport::Encoding::Gbk ? Gbk::encodeUtf8(m_pending)
                                                                     : m_pending);
        m_pending.clear();
    }

    qint64 records() const { return m_records; }
    qint64 replaced() const { return m_replaced; }

private:
    void checkGbk(QByteArrayView value, const QString& column, QByteArrayView num, QByteArrayView name)
    {
        if (std::all_of(value.begin(), value.end(), [](char c) { return uchar(c) < 0x80; }))
            return;
        const QString text = QString::fromUtf8(value);
        const qsizetype at = Gbk::firstUnmappable(text);
        if (at < 0)
            return;
        if (m_options.replaceUnmappable) {
            m_replaced += Gbk::unmappableCount(text);
            return;
        }
        throw Unmappable{QStringLiteral("record %1 (num %2, name %3): %4 holds %5, a character GBK lacks; "
                                        "--replace-unmappable writes \"?\" for such characters")
                             .arg(QString::number(m_records), TextExcerpt::quoted(QString::fromUtf8(num)),
                                  TextExcerpt::quoted(QString::fromUtf8(name)), column,
                                  Gbk::codePointName(text, at))};
    }

    const AttendanceExport::Options& m_options;
    const AttendanceExport::Sink& m_sink;
    const AttendanceExport::Progress& m_progress;
    QByteArray m_pending;
    qint64 m_records = 0;
    qint64 m_replaced = 0;
};

// One field of a row in COPY's text format, unescaped; a NULL reads as empty.
QByteArrayView copyField(QByteArrayView row, qsizetype& at, QByteArray& scratch)
{
    const qsizetype start = at;
    qsizetype end = row.indexOf('\t', start);
    if (end < 0)
        end = row.size();
    at = end + 1;
    const QByteArrayView raw = row.sliced(start, end - start);
    if (!raw.contains('\\'))
        return raw;
    if (raw == "\\N")
        return {};
    scratch.clear();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\\' || i + 1 >= raw.size()) {
            scratch += c;
            continue;
        }
        const char e = raw[++i];
        switch (e) {
        case 'b':
            scratch += '\b';
            break;
        case 'f':
            scratch += '\f';
            break;
        case 'n':
            scratch += '\n';
            break;
        case 'r':
            scratch += '\r';
            break;
        case 't':
            scratch += '\t';
            break;
        case 'v':
            scratch += '\v';
            break;
        default:
            if (e >= '0' && e <= '7') {
                int value = e - '0';
                for (int k = 0; k < 2 && i + 1 < raw.size() && raw[i + 1] >= '0' && raw[i + 1] <= '7'; ++k)
                    value = value * 8 + (raw[++i] - '0');
                scratch += char(value);
            } else {
                scratch += e;
            }
        }
    }
    return scratch;
}

} // namespace

qint64 AttendanceExport::count(AdoConnection& connection, const Filter& filter)
{
    AdoQuery query(QStringLiteral("CountQry"));
    query.setConnection(&connection);
    const Selection selection = select(QStringLiteral("SELECT COUNT(*) AS n"), filter, QString());
    query.sqlAdd(selection.sql);
    for (const auto& [name, value] : selection.parameters)
        query.setParameter(name, value);
    query.open();
    return query.fieldAsString(QStringLiteral("n")).toLongLong();
}

AttendanceExport::Result AttendanceExport::run(AdoConnection& connection, const Filter& filter,
                                               const Options& options, const Sink& sink,
                                               const Progress& progress)
{
    Writer writer(options, sink, progress);
    Result result;
    try {
        if (ServerFeatures* server = connection.backend().serverFeatures()) {
            // The server writes the rows itself, COPY's fastest way, and they are read as
            // they come rather than held as one result.
            QByteArray numScratch, nameScratch, dateScratch, timeScratch;
            server->copyOut(serverCopy(*server, filter), [&](QByteArrayView row) {
                qsizetype at = 0;
                const QByteArrayView num = copyField(row, at, numScratch);
                const QByteArrayView name = copyField(row, at, nameScratch);
                const QByteArrayView date = copyField(row, at, dateScratch);
                const QByteArrayView time = copyField(row, at, timeScratch);
                writer.record(num, name, [&](QByteArray& out) {
                    out += date;
                    out += ',';
                    out += time;
                });
            });
        } else {
            // Straight from the back end's cursor, row by row as the records arrive: a
            // year of a large site does not fit the memory of the snapshot the terminal's
            // queries take, and the export needs none of the snapshot's services.
            const Selection selection = select(QStringLiteral("SELECT num, name, D, T"), filter,
                                               QStringLiteral(" ORDER BY (D+T), num"));
            const SqlStatementPlan plan(selection.sql);
            const std::unique_ptr<DbCursor> cursor = connection.backend().prepare(plan);
            const auto& occurrences = plan.occurrences();
            for (size_t n = 0; n < occurrences.size(); ++n) {
                const QString& name = plan.parameterNames().at(occurrences[n].nameIndex);
                for (const auto& [parameter, value] : selection.parameters) {
                    if (parameter.compare(name, Qt::CaseInsensitive) == 0)
                        cursor->bindText(int(n) + 1, value);
                }
            }
            while (cursor->step()) {
                const qint64 instant = seconds(*cursor, 2) + seconds(*cursor, 3);
                const qint64 day = (instant >= 0 ? instant : instant - 86399) / 86400;
                writer.record(cursor->columnText(0).toUtf8(), cursor->columnText(1).toUtf8(),
                              [&](QByteArray& out) {
                                  appendDate(out, day);
                                  out += ',';
                                  appendTime(out, instant - day * 86400);
                              });
            }
        }
    } catch (const Unmappable& stop) {
        // What came before the record goes out, so that the output ends at a whole record.
        writer.flush();
        result.records = writer.records() - 1;
        result.error = stop.message;
        return result;
    }
    writer.flush();
    result.ok = true;
    result.records = writer.records();
    result.replaced = writer.replaced();
    return result;
}
