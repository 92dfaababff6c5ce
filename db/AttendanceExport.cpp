#include "db/AttendanceExport.h"

#include "db/AdoQuery.h"
#include "db/DateTimeValue.h"
#include "db/Statements.h"
#include "platform/CsvWriter.h"
#include "platform/Gbk.h"

namespace {

// Output is handed on in pieces of about this size.
constexpr qsizetype kChunk = 64 * 1024;

// The instants are compared as a whole, D+T, so that a record counts by the moment of
// the swipe; the end date is inclusive, hence "before the next midnight".
void prepare(AdoQuery& query, const QString& select, const AttendanceExport::Filter& filter,
             const QString& order)
{
    QStringList conditions;
    if (filter.from.isValid())
        conditions.append(QStringLiteral("(D+T) >= :from_instant"));
    if (filter.to.isValid())
        conditions.append(QStringLiteral("(D+T) < :to_instant"));
    if (!filter.num.isEmpty())
        conditions.append(QStringLiteral("num = :num"));
    QString sql = select + QStringLiteral(" FROM sgdjb");
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    sql += order;
    query.sqlAdd(sql);
    if (filter.from.isValid())
        query.setParameter(QStringLiteral("from_instant"),
                           filter.from.toString(QStringLiteral("yyyy-MM-dd")));
    if (filter.to.isValid())
        query.setParameter(QStringLiteral("to_instant"),
                           filter.to.addDays(1).toString(QStringLiteral("yyyy-MM-dd")));
    if (!filter.num.isEmpty())
        query.setParameter(Statements::kNum, filter.num);
}

} // namespace

qint64 AttendanceExport::count(AdoConnection& connection, const Filter& filter)
{
    AdoQuery query(QStringLiteral("CountQry"));
    query.setConnection(&connection);
    prepare(query, QStringLiteral("SELECT COUNT(*) AS n"), filter, QString());
    query.open();
    return query.fieldAsString(QStringLiteral("n")).toLongLong();
}

qint64 AttendanceExport::run(AdoConnection& connection, const Filter& filter, Encoding encoding,
                             const Sink& sink, const Progress& progress)
{
    AdoQuery query(QStringLiteral("ExportQry"));
    query.setConnection(&connection);
    prepare(query, QStringLiteral("SELECT num, name, D, T"), filter, QStringLiteral(" ORDER BY (D+T), num"));

    QString pending = CsvWriter::record(
        {QStringLiteral("num"), QStringLiteral("name"), QStringLiteral("date"), QStringLiteral("time")});
    const auto flush = [&] {
        sink(encoding == Encoding::Gbk ? Gbk::encode(pending) : pending.toUtf8());
        pending.clear();
    };
    // Row by row as the records arrive: a year of a large site does not fit the memory
    // of the snapshot the terminal's queries take.
    qint64 rows = 0;
    query.openForEach([&] {
        const QDateTime instant =
            (query.fieldAsDateTime(Statements::kD) + query.fieldAsDateTime(Statements::kT)).toDateTime();
        pending += CsvWriter::record(
            {query.fieldAsString(Statements::kNum), query.fieldAsString(Statements::kName),
             instant.toString(QStringLiteral("yyyy-MM-dd")), instant.toString(QStringLiteral("HH:mm:ss"))});
        if (pending.size() >= kChunk)
            flush();
        ++rows;
        if (progress)
            progress(rows);
    });
    flush();
    return rows;
}
