#include "db/EmployeeImport.h"

#include "db/AdoConnection.h"
#include "db/AdoQuery.h"
#include "db/Statements.h"
#include "db/Transaction.h"
#include "platform/CsvReader.h"
#include "platform/Gbk.h"

#include <QHash>

#include <array>
#include <optional>
#include <vector>

namespace {

enum Column
{
    kNumColumn,
    kNameColumn,
    kDeptColumn,
    kColumnCount
};

const std::array<QString, kColumnCount> kColumnNames = {Statements::kNum, Statements::kName,
                                                        Statements::kDeptNo};

struct Row
{
    qsizetype line = 0;
    std::array<QString, kColumnCount> values;
};

struct Parsed
{
    // Position of each column in the file's records, or -1 when the header lacks it.
    std::array<qsizetype, kColumnCount> position{-1, -1, -1};
    std::vector<Row> rows;
};

EmployeeImport::Result refuse(qsizetype line, const QString& error)
{
    EmployeeImport::Result result;
    result.line = line;
    result.error = error;
    return result;
}

std::optional<EmployeeImport::Result> parse(const QByteArray& csv, Parsed& parsed)
{
    CsvReader reader(csv);
    QStringList fields;
    if (!reader.next(fields))
        return refuse(reader.error().isEmpty() ? 0 : reader.line(),
                      reader.error().isEmpty() ? QStringLiteral("the file is empty: no header")
                                               : reader.error());
    const qsizetype width = fields.size();
    for (qsizetype i = 0; i < width; ++i) {
        const QString name = fields.at(i).trimmed();
        qsizetype column = 0;
        while (column < kColumnCount && name.compare(kColumnNames[size_t(column)], Qt::CaseInsensitive) != 0)
            ++column;
        if (column == kColumnCount)
            return refuse(
                reader.line(),
                QStringLiteral("unknown column \"%1\" in the header (num, name, dept_no)").arg(name));
        if (parsed.position[size_t(column)] >= 0)
            return refuse(reader.line(), QStringLiteral("column %1 named twice in the header").arg(name));
        parsed.position[size_t(column)] = i;
    }
    for (int column : {kNumColumn, kNameColumn}) {
        if (parsed.position[size_t(column)] < 0)
            return refuse(reader.line(),
                          QStringLiteral("the header lacks the column %1").arg(kColumnNames[size_t(column)]));
    }

    while (reader.next(fields)) {
        if (fields.size() != width)
            return refuse(reader.line(), QStringLiteral("%1 fields where the header has %2")
                                             .arg(QString::number(fields.size()), QString::number(width)));
        Row row;
        row.line = reader.line();
        for (size_t column = 0; column < kColumnCount; ++column) {
            if (parsed.position[column] >= 0)
                row.values[column] = fields.at(parsed.position[column]);
        }
        parsed.rows.push_back(std::move(row));
    }
    if (!reader.error().isEmpty())
        return refuse(reader.line(), reader.error());
    return std::nullopt;
}

// Checks each value against its column's declared width, counted in GBK bytes as the
// terminal counts, and the numbers against each other and the list.
std::optional<EmployeeImport::Result> check(const Parsed& parsed, const std::array<int, kColumnCount>& widths,
                                            const QHash<QString, qsizetype>& existing,
                                            EmployeeImport::Mode mode, std::vector<bool>& skip)
{
    QHash<QString, qsizetype> seen;
    seen.reserve(qsizetype(parsed.rows.size()));
    skip.assign(parsed.rows.size(), false);
    for (size_t i = 0; i < parsed.rows.size(); ++i) {
        const Row& row = parsed.rows[i];
        const QString& num = row.values[kNumColumn];
        if (num.isEmpty())
            return refuse(row.line, QStringLiteral("num is empty"));
        for (size_t column = 0; column < kColumnCount; ++column) {
            const QString& value = row.values[column];
            const QByteArray bytes = Gbk::encode(value);
            if (Gbk::decode(bytes) != value)
                return refuse(row.line, QStringLiteral("%1 \"%2\" has a character the GBK code page lacks")
                                            .arg(kColumnNames[column], value));
            if (widths[column] > 0 && bytes.size() > widths[column])
                return refuse(row.line,
                              QStringLiteral("%1 \"%2\" is %3 bytes long in GBK; the column holds %4")
                                  .arg(kColumnNames[column], value, QString::number(bytes.size()),
                                       QString::number(widths[column])));
        }
        const auto earlier = seen.constFind(num);
        if (earlier != seen.cend())
            return refuse(
                row.line,
                QStringLiteral("num %1 repeats line %2").arg(num, QString::number(earlier.value())));
        seen.insert(num, row.line);
        if (mode != EmployeeImport::Mode::Replace && existing.contains(num)) {
            if (mode == EmployeeImport::Mode::Add)
                return refuse(row.line, QStringLiteral("num %1 is already in the list (--new-only skips such "
                                                       "rows, --replace replaces the list)")
                                            .arg(num));
            skip[i] = true;
        }
    }
    return std::nullopt;
}

} // namespace

EmployeeImport::Result EmployeeImport::run(AdoConnection& connection, const QByteArray& csv, Mode mode,
                                           const Progress& progress)
{
    Parsed parsed;
    if (auto refused = parse(csv, parsed))
        return *refused;

    // The write lock is held from the reading of the list to the commit, so that no other
    // writer can add a number between the check and the inserts.
    Transaction transaction(connection, Transaction::EmployeeList{});

    AdoQuery list(QStringLiteral("EmployQry"));
    list.setConnection(&connection);
    list.sqlAdd(QStringLiteral("SELECT num, name, dept_no FROM employ"));
    list.open();
    std::array<int, kColumnCount> widths{};
    for (size_t column = 0; column < kColumnCount; ++column)
        widths[column] = list.fieldDisplayWidth(list.fieldIndex(kColumnNames[column]));
    QHash<QString, qsizetype> existing;
    const int listed = list.recordCount();
    existing.reserve(listed);
    const int numColumn = list.fieldIndex(Statements::kNum);
    for (int row = 0; row < listed; ++row)
        existing.insert(list.valueAsString(row, numColumn), row);
    list.close();

    std::vector<bool> skip;
    if (auto refused = check(parsed, widths, existing, mode, skip))
        return *refused;

    Result result;
    AdoQuery write(QStringLiteral("ImportQry"));
    write.setConnection(&connection);
    if (mode == Mode::Replace) {
        write.sqlAdd(QStringLiteral("DELETE FROM employ"));
        write.execSql();
        result.removed = listed;
    }
    const bool withDept = parsed.position[kDeptColumn] >= 0;
    write.sqlClear();
    write.sqlAdd(
        withDept ? QStringLiteral("INSERT INTO employ (num, name, dept_no) VALUES (:num, :name, :dept_no)")
                 : QStringLiteral("INSERT INTO employ (num, name) VALUES (:num, :name)"));
    const auto total = qint64(parsed.rows.size());
    for (size_t i = 0; i < parsed.rows.size(); ++i) {
        if (skip[i]) {
            ++result.skipped;
        } else {
            const Row& row = parsed.rows[i];
            write.setParameter(Statements::kNum, row.values[kNumColumn]);
            write.setParameter(Statements::kName, row.values[kNameColumn]);
            if (withDept)
                write.setParameter(Statements::kDeptNo, row.values[kDeptColumn]);
            write.execSql();
            ++result.added;
        }
        if (progress)
            progress(qint64(i) + 1, total);
    }
    transaction.commit();
    result.ok = true;
    return result;
}
