#include "interchange/AccessImport.h"

#include "interchange/AccessDateSerial.h"
#include "interchange/AccessSource.h"
#include "interchange/ColumnRules.h"
#include "platform/Exception.h"
#include "query/AdoConnection.h"
#include "query/DateTimeCoercion.h"
#include "query/DbBackend.h"
#include "query/SqlStatementPlan.h"
#include "query/Statements.h"
#include "query/Transaction.h"

#include <QHash>
#include <QSet>

#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr qint64 kDay = 86400;

// Why the import stops; carried out of the source's read loop to the one place that
// rolls back and reports.
struct Refusal
{
    QString message;
    bool employeeExists = false;
};

[[noreturn]] void refuse(const QString& message, bool employeeExists = false)
{
    throw Refusal{message, employeeExists};
}

QString rawText(double serial)
{
    return QString::number(serial, 'g', 17);
}

QString where(const QString& table, qint64 row, const QString& column)
{
    return QStringLiteral("%1 row %2, column %3").arg(table, QString::number(row), column);
}

QString wallClockText(DateTimeValue value)
{
    return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The texts the provider takes for a date and a time-of-day column, whatever the target
// stores them as; formatted by hand, as every row has three of them.
QString dateText(DateTimeValue value)
{
    const qint64 days = value.seconds() / kDay - (value.seconds() % kDay < 0 ? 1 : 0);
    const QDate date = QDate(1970, 1, 1).addDays(days);
    return QString::asprintf("%04d-%02d-%02d", date.year(), date.month(), date.day());
}

QString timeText(DateTimeValue value)
{
    const int seconds = int(value.seconds());
    return QString::asprintf("%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// An instant D + T as the duplicate test's parameters give it.
QString instantText(DateTimeValue value)
{
    const qint64 ofDay =
        value.seconds() - (value.seconds() / kDay - (value.seconds() % kDay < 0 ? 1 : 0)) * kDay;
    return dateText(value) + u' ' + timeText(DateTimeValue(ofDay));
}

DateTimeValue dateOf(double serial, qint64 row, const QString& column)
{
    if (const auto value = AccessDateSerial::toDate(serial))
        return *value;
    const QString at = where(Statements::kRecordTable, row, column);
    if (const auto instant = AccessDateSerial::toDateTime(serial))
        refuse(QStringLiteral("%1: %2 is not a date at midnight (it stands for %3)")
                   .arg(at, rawText(serial), wallClockText(*instant)));
    refuse(QStringLiteral("%1: %2 is not a valid date serial").arg(at, rawText(serial)));
}

DateTimeValue timeOf(double serial, qint64 row)
{
    if (const auto value = AccessDateSerial::toTimeOfDay(serial))
        return *value;
    const QString at = where(Statements::kRecordTable, row, Statements::kT);
    if (const auto instant = AccessDateSerial::toDateTime(serial))
        refuse(QStringLiteral("%1: %2 is not a time of day on 1899-12-30 (it stands for %3)")
                   .arg(at, rawText(serial), wallClockText(*instant)));
    refuse(QStringLiteral("%1: %2 is not a valid date serial").arg(at, rawText(serial)));
}

// An sgdjb row as the skip option compares it: its number and its instant D + T, with
// NULLs told apart from every value.
struct RecordKey
{
    QString num;
    int nulls = 0;
    qint64 instant = 0;

    enum : int
    {
        kNumNull = 1,
        kDNull = 2,
        kTNull = 4
    };

    bool operator==(const RecordKey&) const = default;
};

size_t qHash(const RecordKey& key, size_t seed = 0)
{
    return qHashMulti(seed, key.num, key.nulls, key.instant);
}

RecordKey recordKey(const std::optional<QString>& num, std::optional<DateTimeValue> d,
                    std::optional<DateTimeValue> t)
{
    RecordKey key;
    key.num = num.value_or(QString());
    key.nulls = (num ? 0 : RecordKey::kNumNull) | (d ? 0 : RecordKey::kDNull) | (t ? 0 : RecordKey::kTNull);
    key.instant = (d ? d->seconds() : 0) + (t ? t->seconds() : 0);
    return key;
}

// The values of one row, checked by the rules every import keeps (ColumnRules) against the
// widths the target's columns declare ("VARCHAR(10)" in a file, "character varying(10)" on a
// server), before they are written: a file refuses what a server would, and the refusal
// says which table, row and column.
void checkRow(const ColumnRules::Widths& widths, const QString& table, const QStringList& columns, qint64 row,
              std::initializer_list<const std::optional<QString>*> values)
{
    qsizetype index = 0;
    for (const std::optional<QString>* value : values) {
        const qsizetype column = index++;
        if (!*value)
            continue;
        if (auto why = ColumnRules::refusal(columns[column], **value, widths.width(column),
                                            widths.declaredType(column)))
            refuse(ColumnRules::where(table, row, columns[column]) + u' ' + *why);
    }
}

std::unique_ptr<DbCursor> query(DbBackend& db, const QString& sql)
{
    const SqlStatementPlan plan(sql);
    auto cursor = db.prepare(plan);
    return cursor;
}

// A stored date/time as the back end hands it over: seconds in a file, text from a
// server. nullopt for NULL; a text no date/time reads as counts as no value at all.
std::optional<DateTimeValue> storedDateTime(const DbCursor& cursor, int column, bool* unreadable)
{
    switch (cursor.columnType(column)) {
    case DbCursor::Type::Null:
        return std::nullopt;
    case DbCursor::Type::Integer:
        return DateTimeValue(cursor.columnInt64(column));
    case DbCursor::Type::Float:
        return DateTimeValue(qint64(cursor.columnDouble(column)));
    case DbCursor::Type::Text:
    case DbCursor::Type::Blob:
        break;
    }
    const auto value = DateTimeCoercion::parse(cursor.columnText(column));
    if (!value)
        *unreadable = true;
    return value;
}

// Which of some employee numbers the target has: asked batch by batch, so that the import
// never holds the target's list, whatever its size.
QSet<QString> employeesAmong(DbBackend& db, const QStringList& numbers)
{
    QSet<QString> found;
    if (numbers.isEmpty())
        return found;
    QString sql = QStringLiteral("SELECT num FROM employ WHERE num IN (");
    for (qsizetype i = 0; i < numbers.size(); ++i)
        sql += (i == 0 ? QStringLiteral(":n") : QStringLiteral(", :n")) + QString::number(i);
    sql += u')';
    const auto cursor = query(db, sql);
    for (qsizetype i = 0; i < numbers.size(); ++i)
        cursor->bindText(int(i) + 1, numbers[i]);
    while (cursor->step())
        if (cursor->columnType(0) != DbCursor::Type::Null)
            found.insert(cursor->columnText(0));
    return found;
}

// Which of some records' keys the target holds, asked in one statement shaped like the
// duplicate test (number and D + T, which the duplicate-test index serves), NULLs matched
// as NULLs. Like employeesAmong, bounded by the batch, not by the target.
QSet<RecordKey> recordsAmong(DbBackend& db, const QList<RecordKey>& keys)
{
    QSet<RecordKey> found;
    if (keys.isEmpty())
        return found;
    QString sql = QStringLiteral("SELECT num, D, T FROM sgdjb WHERE ");
    QStringList values;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const RecordKey& key = keys[i];
        const auto marker = [&](const QString& value) {
            values.append(value);
            return QStringLiteral(":k") + QString::number(values.size());
        };
        QString term = (key.nulls & RecordKey::kNumNull) ? QStringLiteral("num IS NULL")
                                                         : QStringLiteral("num = ") + marker(key.num);
        const DateTimeValue instant(key.instant);
        switch (key.nulls & (RecordKey::kDNull | RecordKey::kTNull)) {
        case 0:
            term += QStringLiteral(" AND (D+T) = ") + marker(instantText(instant));
            break;
        case RecordKey::kDNull:
            term += QStringLiteral(" AND D IS NULL AND T = ") + marker(timeText(instant));
            break;
        case RecordKey::kTNull:
            term += QStringLiteral(" AND T IS NULL AND D = ") + marker(dateText(instant));
            break;
        default:
            term += QStringLiteral(" AND D IS NULL AND T IS NULL");
            break;
        }
        sql += (i == 0 ? QStringLiteral("(") : QStringLiteral(" OR (")) + term + u')';
    }
    const auto cursor = query(db, sql);
    for (qsizetype i = 0; i < values.size(); ++i)
        cursor->bindText(int(i) + 1, values[i]);
    while (cursor->step()) {
        bool unreadable = false;
        const std::optional<QString> num = cursor->columnType(0) == DbCursor::Type::Null
                                               ? std::nullopt
                                               : std::optional<QString>(cursor->columnText(0));
        const auto d = storedDateTime(*cursor, 1, &unreadable);
        const auto t = storedDateTime(*cursor, 2, &unreadable);
        // A value no import writes cannot equal an imported row's.
        if (!unreadable)
            found.insert(recordKey(num, d, t));
    }
    return found;
}

// Rows for one table, sent kRowsPerStatement to an INSERT: few round trips to a server,
// and one prepared statement for every full batch.
class BatchInsert
{
public:
    BatchInsert(DbBackend& db, const QString& table, const QStringList& columns)
        : m_db(db), m_head(QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table, columns.join(u", "))),
          m_columns(columns.size())
    {
        m_values.reserve(size_t(m_columns * AccessImport::kRowsPerStatement));
    }

    void add(std::initializer_list<std::optional<QString>> row)
    {
        for (const std::optional<QString>& value : row)
            m_values.push_back(value);
        if (m_values.size() == size_t(m_columns * AccessImport::kRowsPerStatement))
            flush();
    }

    void flush()
    {
        if (m_values.empty())
            return;
        const int rows = int(m_values.size() / size_t(m_columns));
        std::unique_ptr<SqlStatementPlan> partial;
        const SqlStatementPlan* plan = nullptr;
        if (rows == AccessImport::kRowsPerStatement) {
            if (!m_full)
                m_full = std::make_unique<SqlStatementPlan>(statement(rows));
            plan = m_full.get();
        } else {
            partial = std::make_unique<SqlStatementPlan>(statement(rows));
            plan = partial.get();
        }
        const auto cursor = m_db.prepare(*plan);
        int position = 1;
        for (const std::optional<QString>& value : m_values) {
            if (value)
                cursor->bindText(position++, *value);
            else
                cursor->bindNull(position++);
        }
        while (cursor->step()) {
        }
        m_values.clear();
    }

private:
    QString statement(int rows) const
    {
        QString sql = m_head;
        int marker = 0;
        for (int row = 0; row < rows; ++row) {
            sql += row == 0 ? QStringLiteral("(") : QStringLiteral(", (");
            for (qsizetype column = 0; column < m_columns; ++column) {
                if (column > 0)
                    sql += u", ";
                sql += QStringLiteral(":v") + QString::number(++marker);
            }
            sql += u')';
        }
        return sql;
    }

    DbBackend& m_db;
    QString m_head;
    qsizetype m_columns;
    std::unique_ptr<SqlStatementPlan> m_full;
    std::vector<std::optional<QString>> m_values;
};

class Importer
{
public:
    Importer(AccessSource& source, DbBackend& db, const AccessImport::Options& options,
             const AccessImport::Progress& progress, AccessImport::Result& result)
        : m_source(source), m_db(db), m_options(options), m_progress(progress), m_result(result)
    {
    }

    void run()
    {
        m_total = m_source.employeeCount() + (m_options.employeesOnly ? 0 : m_source.attendanceCount());
        importEmployees();
        if (!m_options.employeesOnly)
            importAttendance();
    }

private:
    void advance()
    {
        ++m_done;
        if (m_progress)
            m_progress(m_done, m_total);
    }

    // Rows are handled a batch at a time: the target is asked which of a batch's numbers
    // (or records) it has, then the batch is checked in the table's order and written, so
    // that a refusal names the first row at fault and the next batch's question sees what
    // this one wrote.
    void importEmployees()
    {
        const QStringList columns{Statements::kNum, Statements::kName, Statements::kDeptNo};
        const ColumnRules::Widths widths(m_db, Statements::kEmployTable, columns);
        BatchInsert insert(m_db, Statements::kEmployTable, columns);
        QHash<QString, qint64> seen;
        std::vector<AccessSource::Employee> pending;
        const auto flush = [&] {
            QStringList numbers;
            for (const AccessSource::Employee& employee : pending)
                if (employee.num && !employee.num->isEmpty())
                    numbers.append(*employee.num);
            const QSet<QString> existing = employeesAmong(m_db, numbers);
            for (const AccessSource::Employee& employee : pending) {
                const QString at =
                    QStringLiteral("%1 row %2").arg(Statements::kEmployTable, QString::number(employee.row));
                if (!employee.num)
                    refuse(QStringLiteral("%1: num is NULL; every employee needs a number").arg(at));
                const QString& num = *employee.num;
                if (num.isEmpty())
                    refuse(QStringLiteral("%1: num is empty; every employee needs a number").arg(at));
                const auto earlier = seen.constFind(num);
                if (earlier != seen.cend())
                    refuse(
                        QStringLiteral("%1: num %2 repeats row %3").arg(at, num, QString::number(*earlier)));
                seen.insert(num, employee.row);
                if (existing.contains(num)) {
                    if (!m_options.skipExisting)
                        refuse(QStringLiteral("%1: num %2 is already in the database").arg(at, num), true);
                    ++m_result.employeesSkipped;
                } else {
                    checkRow(widths, Statements::kEmployTable, columns, employee.row,
                             {&employee.num, &employee.name, &employee.deptNo});
                    insert.add({num, employee.name, employee.deptNo});
                    ++m_result.employeesWritten;
                }
                advance();
            }
            insert.flush();
            pending.clear();
        };
        m_source.readEmployees([&](const AccessSource::Employee& employee) {
            ++m_result.employeesRead;
            pending.push_back(employee);
            if (pending.size() == size_t(AccessImport::kRowsPerStatement))
                flush();
        });
        flush();
    }

    void importAttendance()
    {
        const QStringList checked{Statements::kNum, Statements::kName};
        const ColumnRules::Widths widths(m_db, Statements::kRecordTable, checked);
        BatchInsert insert(
            m_db, Statements::kRecordTable,
            {Statements::kNum, Statements::kName, Statements::kD, Statements::kT, QStringLiteral("opdate")});
        std::vector<AccessSource::Attendance> pending;
        const auto flush = [&] {
            struct Dated
            {
                std::optional<DateTimeValue> d, t, opdate;
            };
            std::vector<Dated> dated;
            dated.reserve(pending.size());
            QList<RecordKey> keys;
            for (const AccessSource::Attendance& record : pending) {
                Dated values;
                if (record.d)
                    values.d = dateOf(*record.d, record.row, Statements::kD);
                if (record.t)
                    values.t = timeOf(*record.t, record.row);
                if (record.opdate)
                    values.opdate = dateOf(*record.opdate, record.row, QStringLiteral("opdate"));
                if (m_options.skipExisting)
                    keys.append(recordKey(record.num, values.d, values.t));
                dated.push_back(values);
            }
            QSet<RecordKey> existing;
            if (m_options.skipExisting)
                existing = recordsAmong(m_db, keys);
            for (size_t i = 0; i < pending.size(); ++i) {
                const AccessSource::Attendance& record = pending[i];
                const Dated& values = dated[i];
                if (m_options.skipExisting && existing.contains(keys[qsizetype(i)])) {
                    ++m_result.attendanceSkipped;
                } else {
                    checkRow(widths, Statements::kRecordTable, checked, record.row,
                             {&record.num, &record.name});
                    insert.add({record.num, record.name,
                                values.d ? std::optional(dateText(*values.d)) : std::nullopt,
                                values.t ? std::optional(timeText(*values.t)) : std::nullopt,
                                values.opdate ? std::optional(dateText(*values.opdate)) : std::nullopt});
                    ++m_result.attendanceWritten;
                    // A record the source holds twice comes over once, as it would from
                    // two batches.
                    if (m_options.skipExisting)
                        existing.insert(keys[qsizetype(i)]);
                }
                advance();
            }
            // Written before the next batch asks what the target holds.
            if (m_options.skipExisting)
                insert.flush();
            pending.clear();
        };
        m_source.readAttendance([&](const AccessSource::Attendance& record) {
            ++m_result.attendanceRead;
            pending.push_back(record);
            if (pending.size() == size_t(AccessImport::kRowsPerStatement))
                flush();
        });
        flush();
        insert.flush();
    }

    AccessSource& m_source;
    DbBackend& m_db;
    const AccessImport::Options& m_options;
    const AccessImport::Progress& m_progress;
    AccessImport::Result& m_result;
    qint64 m_total = 0;
    qint64 m_done = 0;
};

} // namespace

AccessImport::Result AccessImport::run(AccessSource& source, AdoConnection& target, const Options& options,
                                       const Progress& progress)
{
    Result result;
    try {
        Transaction transaction(target, Transaction::EmployeeList{});
        Importer(source, target.backend(), options, progress, result).run();
        transaction.commit();
        result.ok = true;
        return result;
    } catch (const Refusal& refusal) {
        result.error = refusal.message;
        result.employeeExists = refusal.employeeExists;
    } catch (const Exception& error) {
        result.error = error.message();
    } catch (const std::exception& error) {
        result.error = QString::fromUtf8(error.what());
    }
    // Rolled back: nothing of what was counted as written is there.
    result.employeesWritten = 0;
    result.attendanceWritten = 0;
    result.employeesSkipped = 0;
    result.attendanceSkipped = 0;
    return result;
}
