#include "interchange/EmployeeImport.h"

#include "interchange/ColumnRules.h"
#include "interchange/CsvTable.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"
#include "query/Statements.h"
#include "query/Transaction.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
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
    CsvTable table(csv, EmployeeImport::kMaxFieldBytes);
    const QStringList columns(kColumnNames.begin(), kColumnNames.end());
    if (!table.readHeader(columns, {Statements::kNum, Statements::kName}))
        return refuse(table.line(), table.error());
    for (size_t column = 0; column < kColumnCount; ++column)
        parsed.position[column] = table.position(kColumnNames[column]);
    QStringList fields;
    while (table.next(fields)) {
        Row row;
        row.line = table.line();
        for (size_t column = 0; column < kColumnCount; ++column) {
            if (parsed.position[column] >= 0)
                row.values[column] = fields.at(parsed.position[column]);
        }
        parsed.rows.push_back(std::move(row));
    }
    if (!table.error().isEmpty())
        return refuse(table.line(), table.error());
    return std::nullopt;
}

// Checks each value by the rules every import keeps (ColumnRules), and the numbers against
// each other and the list.
std::optional<EmployeeImport::Result>
check(const Parsed& parsed, const ColumnRules::Widths& widths,
      const std::unordered_map<std::u16string, std::u16string>& existing, EmployeeImport::Mode mode,
      std::vector<bool>& skip)
{
    // Standard containers: Qt's seeded string hash costs more than the rest of the check.
    // The keys are views of the numbers in parsed, which outlives the map.
    std::unordered_map<std::u16string_view, size_t> seen;
    seen.reserve(parsed.rows.size());
    std::vector<QString> foldedNums(parsed.rows.size());
    skip.assign(parsed.rows.size(), false);
    for (size_t i = 0; i < parsed.rows.size(); ++i) {
        const Row& row = parsed.rows[i];
        const QString& num = row.values[kNumColumn];
        if (num.isEmpty())
            return refuse(row.line, QStringLiteral("num is empty"));
        for (size_t column = 0; column < kColumnCount; ++column) {
            if (auto why = ColumnRules::refusal(
                    kColumnNames[column], row.values[column], widths.width(qsizetype(column)),
                    widths.declaredType(qsizetype(column)), ColumnRules::Characters::GbkOnly))
                return refuse(row.line, ColumnRules::where(Statements::kEmployTable, qint64(i) + 1,
                                                           kColumnNames[column]) +
                                            u' ' + *why);
        }
        // Numbers are ASCII (checked above), and the number box finds them without regard
        // to case: "A1" and "a1" would be two employees it shows as one.
        foldedNums[i] = num.toLower();
        const QString& folded = foldedNums[i];
        const std::u16string_view key(reinterpret_cast<const char16_t*>(folded.utf16()),
                                      size_t(folded.size()));
        const auto [earlier, added] = seen.try_emplace(key, i);
        if (!added) {
            const Row& first = parsed.rows[earlier->second];
            const QString& firstNum = first.values[kNumColumn];
            if (firstNum == num)
                return refuse(row.line,
                              QStringLiteral("num %1 repeats line %2").arg(num, QString::number(first.line)));
            return refuse(row.line,
                          QStringLiteral("num %1 differs only in case from num %2 on line %3; numbers "
                                         "are matched without regard to case")
                              .arg(num, firstNum, QString::number(first.line)));
        }
        if (mode != EmployeeImport::Mode::Replace && !existing.empty()) {
            const auto listed = existing.find(std::u16string(key));
            if (listed != existing.end()) {
                const QString listedNum = QString::fromStdU16String(listed->second);
                if (listedNum != num)
                    return refuse(row.line,
                                  QStringLiteral("num %1 differs only in case from num %2 already in "
                                                 "the list; numbers are matched without regard to case")
                                      .arg(num, listedNum));
                if (mode == EmployeeImport::Mode::Add)
                    return refuse(row.line,
                                  QStringLiteral("num %1 is already in the list (--new-only skips such "
                                                 "rows, --replace replaces the list)")
                                      .arg(num));
                skip[i] = true;
            }
        }
    }
    return std::nullopt;
}

// A value in COPY's text format. The rules have kept control characters out; the
// backslash is the one character that still needs its escape.
void appendCopyField(QByteArray& out, const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    if (!utf8.contains('\\')) {
        out += utf8;
        return;
    }
    out += QByteArray(utf8).replace("\\", "\\\\");
}

// A CSV file that is there but cannot be used, in the form of the database's own refusals.
QString cannotRead(const QString& path, const QString& cause)
{
    return QStringLiteral("Cannot read file '%1': %2").arg(path, cause);
}

} // namespace

bool EmployeeImport::readSource(const QString& path, QByteArray& bytes, QString& error)
{
    // Without blocking: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        // Worded as a missing database file is, so that kqdb says it one way.
        error = code == ENOENT || code == ENOTDIR
                    ? QStringLiteral("Could not find file '%1'").arg(path)
                    : cannotRead(path, QString::fromLocal8Bit(std::strerror(code)));
        return false;
    }
    QFile file;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = cannotRead(path, QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        error = cannotRead(path, S_ISDIR(st.st_mode)
                                     ? QStringLiteral("a folder, not a CSV file")
                                     : QStringLiteral("not a regular file (a pipe, a device or a socket); "
                                                      "give the path of a CSV file"));
        return false;
    }
    if (st.st_size > kMaxFileBytes) {
        ::close(fd);
        error = cannotRead(
            path, QStringLiteral("%1 bytes, more than the %2 MiB an employee list may take")
                      .arg(QString::number(st.st_size), QString::number(kMaxFileBytes / (1024 * 1024))));
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = cannotRead(path, file.errorString());
        return false;
    }
    // A file that grows while it is read is cut at the bound and refused, not read whole.
    bytes = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        error = cannotRead(path, file.errorString());
        return false;
    }
    if (bytes.size() > kMaxFileBytes) {
        bytes.clear();
        error = cannotRead(path, QStringLiteral("more than the %1 MiB an employee list may take")
                                     .arg(QString::number(kMaxFileBytes / (1024 * 1024))));
        return false;
    }
    return true;
}

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
    const ColumnRules::Widths widths(connection.backend(), Statements::kEmployTable,
                                     {kColumnNames[0], kColumnNames[1], kColumnNames[2]});
    // Keyed by the number in lower case, holding it as listed.
    std::unordered_map<std::u16string, std::u16string> existing;
    const int listed = list.recordCount();
    existing.reserve(size_t(listed));
    const int numColumn = list.fieldIndex(Statements::kNum);
    for (int row = 0; row < listed; ++row) {
        const QString num = list.valueAsString(row, numColumn);
        existing.emplace(num.toLower().toStdU16String(), num.toStdU16String());
    }
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
    const auto total = qint64(parsed.rows.size());
    if (ServerFeatures* server = connection.backend().serverFeatures()) {
        // One COPY instead of a round trip per row, inside the same transaction.
        QByteArray data;
        data.reserve(total * 32);
        for (size_t i = 0; i < parsed.rows.size(); ++i) {
            if (skip[i]) {
                ++result.skipped;
                continue;
            }
            const Row& row = parsed.rows[i];
            appendCopyField(data, row.values[kNumColumn]);
            data += '\t';
            appendCopyField(data, row.values[kNameColumn]);
            if (withDept) {
                data += '\t';
                appendCopyField(data, row.values[kDeptColumn]);
            }
            data += '\n';
            ++result.added;
        }
        server->copyIn(withDept ? "COPY employ (num, name, dept_no) FROM STDIN"
                                : "COPY employ (num, name) FROM STDIN",
                       data);
        if (progress)
            progress(total, total);
        transaction.commit();
        result.ok = true;
        return result;
    }
    write.sqlClear();
    write.sqlAdd(
        withDept ? QStringLiteral("INSERT INTO employ (num, name, dept_no) VALUES (:num, :name, :dept_no)")
                 : QStringLiteral("INSERT INTO employ (num, name) VALUES (:num, :name)"));
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
