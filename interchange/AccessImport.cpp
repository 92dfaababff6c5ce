#include "interchange/AccessImport.h"

#include "interchange/AccessDateSerial.h"
#include "interchange/AccessSource.h"
#include "query/AdoConnection.h"
#include "query/DateTimeCoercion.h"
#include "query/DbBackend.h"
#include "query/SqlStatementPlan.h"
#include "query/Statements.h"
#include "query/Transaction.h"
#include "platform/Exception.h"

#include <QHash>
#include <QRegularExpression>
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

// How many characters a text holds, as the database counts them: a character outside the
// Basic Multilingual Plane is one, not two UTF-16 units.
qsizetype characters(const QString& text)
{
    qsizetype count = 0;
    for (const QChar c : text)
        count += c.isLowSurrogate() ? 0 : 1;
    return count;
}

// The widths the target's text columns are declared with ("VARCHAR(10)" in a file,
// "character varying(10)" on a server). Each value is checked before it is written, so
// that a file refuses what a server would, and a refusal says which row and value.
class ColumnWidths
{
public:
    ColumnWidths(DbBackend& db, const QString& table, const QStringList& columns) : m_table(table)
    {
        static const QRegularExpression declared(
            QStringLiteral(
                R"(^\s*(?:national\s+)?(?:n?var)?char(?:acter)?(?:\s+varying)?\s*\(\s*(\d+)\s*\)\s*$)"),
            QRegularExpression::CaseInsensitiveOption);
        const std::vector<DbColumnInfo> found = db.tableColumns(table);
        for (const QString& column : columns) {
            Width width{column, {}, -1};
            for (const DbColumnInfo& info : found) {
                if (info.name.compare(column, Qt::CaseInsensitive) != 0)
                    continue;
                const QRegularExpressionMatch match = declared.match(info.declaredType);
                if (match.hasMatch()) {
                    width.declaredType = info.declaredType;
                    width.limit = match.captured(1).toLongLong();
                }
            }
            m_widths.push_back(width);
        }
    }

    // The values of one row, in the order of the columns given at construction.
    void check(qint64 row, std::initializer_list<const std::optional<QString>*> values) const
    {
        size_t index = 0;
        for (const std::optional<QString>* value : values) {
            const Width& width = m_widths[index++];
            if (width.limit < 0 || !*value)
                continue;
            const qsizetype length = characters(**value);
            if (length > width.limit)
                refuse(QStringLiteral("%1: \"%2\" has %3 characters, more than the %4 its column holds (%5)")
                           .arg(where(m_table, row, width.column), **value, QString::number(length),
                                QString::number(width.limit), width.declaredType));
        }
    }

private:
    struct Width
    {
        QString column;
        QString declaredType;
        qint64 limit; // -1: no bound
    };

    QString m_table;
    std::vector<Width> m_widths;
};

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

QSet<QString> employeeNumbers(DbBackend& db)
{
    QSet<QString> numbers;
    const auto cursor = query(db, QStringLiteral("SELECT num FROM employ"));
    while (cursor->step())
        if (cursor->columnType(0) != DbCursor::Type::Null)
            numbers.insert(cursor->columnText(0));
    return numbers;
}

QSet<RecordKey> recordKeys(DbBackend& db)
{
    QSet<RecordKey> keys;
    const auto cursor = query(db, QStringLiteral("SELECT num, D, T FROM sgdjb"));
    while (cursor->step()) {
        bool unreadable = false;
        const std::optional<QString> num = cursor->columnType(0) == DbCursor::Type::Null
                                               ? std::nullopt
                                               : std::optional<QString>(cursor->columnText(0));
        const auto d = storedDateTime(*cursor, 1, &unreadable);
        const auto t = storedDateTime(*cursor, 2, &unreadable);
        // A value no import writes cannot equal an imported row's.
        if (!unreadable)
            keys.insert(recordKey(num, d, t));
    }
    return keys;
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

    void importEmployees()
    {
        const QSet<QString> existing = employeeNumbers(m_db);
        QHash<QString, qint64> seen;
        const ColumnWidths widths(m_db, Statements::kEmployTable,
                                  {Statements::kNum, Statements::kName, Statements::kDeptNo});
        BatchInsert insert(m_db, Statements::kEmployTable,
                           {Statements::kNum, Statements::kName, Statements::kDeptNo});
        m_source.readEmployees([&](const AccessSource::Employee& employee) {
            ++m_result.employeesRead;
            // Only a refusal needs it.
            const auto at = [&] {
                return QStringLiteral("%1 row %2")
                    .arg(Statements::kEmployTable, QString::number(employee.row));
            };
            if (!employee.num)
                refuse(QStringLiteral("%1: num is NULL; every employee needs a number").arg(at()));
            const QString& num = *employee.num;
            if (num.isEmpty())
                refuse(QStringLiteral("%1: num is empty; every employee needs a number").arg(at()));
            const auto earlier = seen.constFind(num);
            if (earlier != seen.cend())
                refuse(QStringLiteral("%1: num %2 repeats row %3").arg(at(), num, QString::number(*earlier)));
            seen.insert(num, employee.row);
            if (existing.contains(num)) {
                if (!m_options.skipExisting)
                    refuse(QStringLiteral("%1: num %2 is already in the database").arg(at(), num), true);
                ++m_result.employeesSkipped;
            } else {
                widths.check(employee.row, {&employee.num, &employee.name, &employee.deptNo});
                insert.add({num, employee.name, employee.deptNo});
                ++m_result.employeesWritten;
            }
            advance();
        });
        insert.flush();
    }

    void importAttendance()
    {
        QSet<RecordKey> existing;
        if (m_options.skipExisting)
            existing = recordKeys(m_db);
        const ColumnWidths widths(m_db, Statements::kRecordTable, {Statements::kNum, Statements::kName});
        BatchInsert insert(
            m_db, Statements::kRecordTable,
            {Statements::kNum, Statements::kName, Statements::kD, Statements::kT, QStringLiteral("opdate")});
        m_source.readAttendance([&](const AccessSource::Attendance& record) {
            ++m_result.attendanceRead;
            std::optional<DateTimeValue> d;
            std::optional<DateTimeValue> t;
            std::optional<DateTimeValue> opdate;
            if (record.d)
                d = dateOf(*record.d, record.row, Statements::kD);
            if (record.t)
                t = timeOf(*record.t, record.row);
            if (record.opdate)
                opdate = dateOf(*record.opdate, record.row, QStringLiteral("opdate"));
            if (m_options.skipExisting && existing.contains(recordKey(record.num, d, t))) {
                ++m_result.attendanceSkipped;
            } else {
                widths.check(record.row, {&record.num, &record.name});
                insert.add({record.num, record.name, d ? std::optional(dateText(*d)) : std::nullopt,
                            t ? std::optional(timeText(*t)) : std::nullopt,
                            opdate ? std::optional(dateText(*opdate)) : std::nullopt});
                ++m_result.attendanceWritten;
            }
            advance();
        });
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
