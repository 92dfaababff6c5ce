// kqdb import-mdb against the Access fixtures: every row and instant comes over into a new
// file and into a throwaway PostgreSQL server, read back behind the tool's back; a second
// run with --skip-existing adds nothing; a refused or damaged source changes nothing; the
// terminal's three-minute rule sees imported rows as its own.

#include "interchange/AccessImport.h"
#include "interchange/AccessSource.h"
#include "query/AdoConnection.h"
#include "support/AccessFixtures.h"
#include "support/AccessPageEditor.h"
#include "support/PgTestServer.h"
#include "support/TerminalProcess.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

using TestSupport::fileBytes;
using TestSupport::runKqdb;
using TestSupport::SqliteFile;
using TestSupport::ToolRun;
using TestSupport::wallSeconds;
using TestSupport::writeFile;

QString kq2000()
{
    return TestSupport::AccessFixtures::path(QStringLiteral("kq2000.mdb"));
}

// The rows the small fixtures hold, as "num|name|dept_no" and "num|name|D T" (NULL as <NULL>).
const QStringList kEmployees = {
    QStringLiteral("0105|王五|01"),         QStringLiteral("0101|张三|01"),
    QStringLiteral("0103|李四|02"),         QStringLiteral("0201|赵敏|02"),
    QStringLiteral("0202|O'Neil, Pat|03"),  QStringLiteral("A-07|Zoë \"Z\" Li|03"),
    QStringLiteral("0301|欧阳修远|<NULL>"), QStringLiteral("0302||04"),
};
const QStringList kRecords = {
    QStringLiteral("0101|张三|2024-03-04 08:59:30"), QStringLiteral("0103|李四|2024-03-04 09:00:00"),
    QStringLiteral("0101|张三|2024-03-04 18:02:11"), QStringLiteral("0201|赵敏|2024-03-04 23:59:59"),
    QStringLiteral("0201|赵敏|2024-03-05 00:00:00"), QStringLiteral("0202|O'Neil, Pat|2024-03-05 07:45:00"),
};

// The records as a file stores them: D the midnight and T the seconds since midnight, in
// wall-clock seconds, and opdate 1999-01-01.
QStringList recordsAsFileStoresThem()
{
    QStringList rows;
    for (const QString& record : kRecords) {
        const QStringList parts = record.split(u'|');
        const QString instant = parts[2];
        const qint64 d = wallSeconds(instant.left(10) + QStringLiteral(" 00:00:00"));
        const qint64 t = wallSeconds(instant) - d;
        rows.append(QStringLiteral("%1|%2|%3|%4|%5|integer integer integer")
                        .arg(parts[0], parts[1], QString::number(d), QString::number(t),
                             QString::number(wallSeconds(QStringLiteral("1999-01-01 00:00:00")))));
    }
    return rows;
}

QStringList fileEmployees(const QString& path)
{
    return SqliteFile(path, SqliteFile::Mode::ReadOnly)
        .rows(QStringLiteral("SELECT num, ifnull(name, '<NULL>'), ifnull(dept_no, '<NULL>') FROM employ "
                             "ORDER BY rowid"));
}

QStringList fileRecords(const QString& path)
{
    return SqliteFile(path, SqliteFile::Mode::ReadOnly)
        .rows(QStringLiteral("SELECT num, name, D, T, opdate, typeof(D) || ' ' || typeof(T) || ' ' || "
                             "typeof(opdate) FROM sgdjb ORDER BY rowid"));
}

qint64 fileCount(const QString& path, const char* table)
{
    return SqliteFile(path, SqliteFile::Mode::ReadOnly)
        .scalar(QStringLiteral("SELECT count(*) FROM %1").arg(QString::fromLatin1(table)));
}

ToolRun importMdb(const QString& source, const QString& target, const QStringList& options = {})
{
    return runKqdb(QStringList{QStringLiteral("import-mdb"), source, target} + options, 300000);
}

std::string text(const ToolRun& run)
{
    return "exit " + std::to_string(run.exitCode) + "\nstdout: " + run.out.toStdString() +
           "\nstderr: " + run.err.toStdString();
}

// Every offset where the file holds a little-endian double within a millionth of a second
// of the serial.
QList<qsizetype> serialOffsets(const QByteArray& bytes, double serial)
{
    QList<qsizetype> offsets;
    for (qsizetype at = 0; at + 8 <= bytes.size(); ++at) {
        const double value = qFromLittleEndian<double>(bytes.constData() + at);
        if (std::isfinite(value) && std::fabs(value - serial) < 1e-11)
            offsets.append(at);
    }
    return offsets;
}

void putSerial(QByteArray& bytes, qsizetype at, double serial)
{
    char raw[8];
    qToLittleEndian(serial, raw);
    bytes.replace(at, 8, raw, 8);
}

// Jet 4 data pages: 4096 bytes, the number of rows at byte 12 and the rows' starts from
// byte 14 on. The first row ends at the page's end, each other where the one before
// starts, and a row ends in its NULL mask, one set bit per column (in the table's column
// order) that holds a value.
constexpr qsizetype kPage = 4096;

qsizetype rowStart(const QByteArray& bytes, qsizetype page, int row)
{
    return page + (qFromLittleEndian<quint16>(bytes.constData() + page + 14 + 2 * row) & 0x1fff);
}

// Where the NULL mask of the row holding a byte is; -1 when the byte is in no row.
qsizetype nullMaskOf(const QByteArray& bytes, qsizetype offset)
{
    const qsizetype page = offset / kPage * kPage;
    const int rows = qFromLittleEndian<quint16>(bytes.constData() + page + 12);
    qsizetype end = page + kPage;
    for (int row = 0; row < rows; ++row) {
        const qsizetype start = rowStart(bytes, page, row);
        if (start <= offset && offset < end)
            return end - 1;
        end = start;
    }
    return -1;
}

// kq2000.mdb with T of sgdjb row 1, D of row 2 and opdate of row 3 NULL (columns num,
// name, D, T, opdate); empty when the rows are not where they were.
QByteArray withNullDates()
{
    QByteArray bytes = fileBytes(TestSupport::AccessFixtures::path(QStringLiteral("kq2000.mdb")));
    const QList<qsizetype> at = serialOffsets(bytes, 32370.0 / 86400.0); // row 1's T
    if (at.size() != 1 || nullMaskOf(bytes, at.first()) != at.first() / kPage * kPage + kPage - 1)
        return {};
    const qsizetype page = at.first() / kPage * kPage;
    const std::pair<qsizetype, int> cleared[] = {
        {page + kPage - 1, 0x08}, {rowStart(bytes, page, 0) - 1, 0x04}, {rowStart(bytes, page, 1) - 1, 0x10}};
    for (const auto& [mask, bit] : cleared)
        bytes[mask] = char(bytes[mask] & ~bit);
    return bytes;
}

// kq2000.mdb with one text grown by a later edit beyond what the terminal's columns hold:
// employ's second employee renumbered (employ's definition on page 24, its rows on page
// 26), or sgdjb's sixth record renamed (definition 28, rows 30).
QByteArray withLongerText(bool number)
{
    TestSupport::AccessPageEditor file(fileBytes(kq2000()));
    const int table = number ? 24 : 28;
    const int page = number ? 26 : 30;
    const int slot = number ? 1 : 5;
    const QList<std::optional<QString>> texts =
        number ? QList<std::optional<QString>>{QStringLiteral("0101-2024-01"), QStringLiteral("张三"),
                                               QStringLiteral("01")}
               : QList<std::optional<QString>>{QStringLiteral("0202"),
                                               QStringLiteral("O'Neil, Patricia Anne Smith")};
    file.moveRow(page, slot, TestSupport::AccessPageEditor::withTexts(file.row(page, slot), texts),
                 file.addDataPage(table));
    return file.bytes();
}

// kq2000.mdb after later edits: the second employee renamed and the seventh given a
// department (both moved to a new page), the third deleted; the first record's name
// corrected (moved), the fourth deleted.
QByteArray edited()
{
    using TestSupport::AccessPageEditor;
    AccessPageEditor file(fileBytes(kq2000()));
    const int employPage = file.addDataPage(24);
    const int sgdjbPage = file.addDataPage(28);
    file.moveRow(
        26, 1,
        AccessPageEditor::withTexts(file.row(26, 1),
                                    {QStringLiteral("0101"), QStringLiteral("张三丰"), QStringLiteral("01")}),
        employPage);
    file.moveRow(
        26, 6,
        AccessPageEditor::withTexts(
            file.row(26, 6), {QStringLiteral("0301"), QStringLiteral("欧阳修远"), QStringLiteral("07")}),
        employPage);
    file.deleteRow(24, 26, 2);
    file.moveRow(
        30, 0,
        AccessPageEditor::withTexts(file.row(30, 0), {QStringLiteral("0101"), QStringLiteral("张三丰")}),
        sgdjbPage);
    file.deleteRow(28, 30, 3);
    return file.bytes();
}

const QStringList kEditedEmployees = {
    QStringLiteral("0105|王五|01"),
    QStringLiteral("0101|张三丰|01"),
    QStringLiteral("0201|赵敏|02"),
    QStringLiteral("0202|O'Neil, Pat|03"),
    QStringLiteral("A-07|Zoë \"Z\" Li|03"),
    QStringLiteral("0301|欧阳修远|07"),
    QStringLiteral("0302||04"),
};

// kRecords as the edits leave them, in the same form.
QStringList editedRecords(QStringList records)
{
    records[0].replace(QStringLiteral("张三"), QStringLiteral("张三丰"));
    records.removeAt(3);
    return records;
}

class AccessImportFileTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // A copy of kq2000.mdb with the change made to its bytes.
    QString doctored(const char* name, const std::function<void(QByteArray&)>& change) const
    {
        QByteArray bytes = fileBytes(kq2000());
        change(bytes);
        const QString copy = path(name);
        writeFile(copy, bytes);
        return copy;
    }

    QTemporaryDir m_dir;
};

TEST_F(AccessImportFileTest, EveryRowAndInstantComesOverIntoANewFile)
{
    for (const char* fixture : {"kq2000.mdb", "kq2003.mdb"}) {
        SCOPED_TRACE(fixture);
        const QString target = path(fixture) + QStringLiteral(".sqlite");
        const ToolRun run =
            importMdb(TestSupport::AccessFixtures::path(QString::fromLatin1(fixture)), target);
        ASSERT_EQ(run.exitCode, 0) << text(run);
        EXPECT_EQ(run.out.toStdString(),
                  "employees: 8 read, 8 written, 0 skipped as already there\n"
                  "attendance records: 6 read, 6 written, 0 skipped as already there\n");
        // Not a terminal: no progress bar.
        EXPECT_EQ(run.err.toStdString(), "");
        EXPECT_EQ(fileEmployees(target), kEmployees);
        EXPECT_EQ(fileRecords(target), recordsAsFileStoresThem());
    }
}

TEST_F(AccessImportFileTest, AFileWithRowsMovedAndDeletedByLaterEditsComesOverExactly)
{
    const QString source = path("edited.mdb");
    writeFile(source, edited());
    const QString target = path("edited.sqlite");
    const ToolRun run = importMdb(source, target);
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(run.out.toStdString(), "employees: 7 read, 7 written, 0 skipped as already there\n"
                                     "attendance records: 5 read, 5 written, 0 skipped as already there\n");
    EXPECT_EQ(fileEmployees(target), kEditedEmployees);
    EXPECT_EQ(fileRecords(target), editedRecords(recordsAsFileStoresThem()));
}

TEST_F(AccessImportFileTest, ASecondRunWithSkipExistingAddsNothing)
{
    const QString target = path("kq.sqlite");
    ASSERT_EQ(importMdb(kq2000(), target).exitCode, 0);
    const QByteArray before = fileBytes(target);

    // Without the option the employees already there refuse the whole import.
    ToolRun run = importMdb(kq2000(), target);
    EXPECT_EQ(run.exitCode, 1) << text(run);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.indexOf("employ row 1: num 0105 is already in the database"), -1) << text(run);
    EXPECT_NE(run.err.indexOf("--skip-existing"), -1) << text(run);
    EXPECT_TRUE(run.err.endsWith("; nothing imported\n")) << text(run);
    EXPECT_EQ(fileBytes(target), before);

    run = importMdb(kq2000(), target, {QStringLiteral("--skip-existing")});
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(run.out.toStdString(), "employees: 8 read, 0 written, 8 skipped as already there\n"
                                     "attendance records: 6 read, 0 written, 6 skipped as already there\n");
    EXPECT_EQ(fileEmployees(target), kEmployees);
    EXPECT_EQ(fileRecords(target), recordsAsFileStoresThem());

    // A record the terminal took itself at the same instant as an imported one counts as
    // held; one a second apart does not.
    const SqliteFile db(target);
    db.exec(QStringLiteral("DELETE FROM sgdjb WHERE T IN (%1, %2); DELETE FROM employ WHERE num = 'A-07'")
                .arg(wallSeconds(QStringLiteral("1970-01-01 08:59:30")))
                .arg(wallSeconds(QStringLiteral("1970-01-01 18:02:11"))));
    for (const char* now : {"2024-03-04 08:59:30", "2024-03-04 18:02:12"}) {
        run = runKqdb({QStringLiteral("swipe"), target, QStringLiteral("0101"), QStringLiteral("--now"),
                       QString::fromLatin1(now)});
        ASSERT_EQ(run.exitCode, 0) << text(run);
    }
    run = importMdb(kq2000(), target, {QStringLiteral("--skip-existing")});
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(run.out.toStdString(), "employees: 8 read, 1 written, 7 skipped as already there\n"
                                     "attendance records: 6 read, 1 written, 5 skipped as already there\n");
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num = '0101'")), 3);
    EXPECT_EQ(fileCount(target, "sgdjb"), 7);
}

TEST_F(AccessImportFileTest, ASwipeTwoMinutesAfterAnImportedRecordIsAlreadyRecorded)
{
    const QString target = path("kq.sqlite");
    ASSERT_EQ(importMdb(kq2000(), target).exitCode, 0);

    ToolRun run = runKqdb({QStringLiteral("swipe"), target, QStringLiteral("0101"), QStringLiteral("--now"),
                           QStringLiteral("2024-03-04 09:01:30")});
    EXPECT_EQ(run.exitCode, 4) << text(run);
    EXPECT_EQ(run.out.toStdString(), "【0101 张三】 2024-03-04 08:59 已刷卡\n");
    EXPECT_EQ(fileCount(target, "sgdjb"), 6);

    run = runKqdb({QStringLiteral("swipe"), target, QStringLiteral("0101"), QStringLiteral("--now"),
                   QStringLiteral("2024-03-04 09:03:00")});
    EXPECT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(run.out.toStdString(), "【0101 张三】 2024-03-04 09:03 刷卡成功！\n");
    EXPECT_EQ(fileCount(target, "sgdjb"), 7);
}

TEST_F(AccessImportFileTest, NullDatesComeOverAsNullAndASecondRunSkipsThem)
{
    const QByteArray bytes = withNullDates();
    ASSERT_FALSE(bytes.isEmpty());
    const QString source = path("nulls.mdb");
    writeFile(source, bytes);
    const QString target = path("kq.sqlite");
    ToolRun run = importMdb(source, target);
    ASSERT_EQ(run.exitCode, 0) << text(run);
    const QStringList rows = SqliteFile(target, SqliteFile::Mode::ReadOnly)
                                 .rows(QStringLiteral("SELECT quote(D), quote(T), quote(opdate) FROM sgdjb "
                                                      "ORDER BY rowid LIMIT 3"));
    const QString opdate = QString::number(wallSeconds(QStringLiteral("1999-01-01 00:00:00")));
    EXPECT_EQ(
        rows,
        (QStringList{
            QStringLiteral("%1|NULL|%2").arg(wallSeconds(QStringLiteral("2024-03-04 00:00:00"))).arg(opdate),
            QStringLiteral("NULL|32400|%1").arg(opdate),
            QStringLiteral("%1|64931|NULL").arg(wallSeconds(QStringLiteral("2024-03-04 00:00:00")))}));

    run = importMdb(source, target, {QStringLiteral("--skip-existing")});
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(run.out.toStdString(), "employees: 8 read, 0 written, 8 skipped as already there\n"
                                     "attendance records: 6 read, 0 written, 6 skipped as already there\n");
}

TEST_F(AccessImportFileTest, EmployeesOnlyLeavesTheRecordsOut)
{
    const QString target = path("kq.sqlite");
    const ToolRun run = importMdb(kq2000(), target, {QStringLiteral("--employees-only")});
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(run.out.toStdString(), "employees: 8 read, 8 written, 0 skipped as already there\n");
    EXPECT_EQ(fileEmployees(target), kEmployees);
    EXPECT_EQ(fileCount(target, "sgdjb"), 0);
}

TEST_F(AccessImportFileTest, AnExistingFileIsAddedTo)
{
    const QString target = path("kq.sqlite");
    ASSERT_EQ(runKqdb({QStringLiteral("create"), target, QStringLiteral("--employees"), QStringLiteral("3")})
                  .exitCode,
              0);
    const ToolRun run = importMdb(kq2000(), target);
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(fileCount(target, "employ"), 3 + 8);
    EXPECT_EQ(fileEmployees(target).mid(3), kEmployees);
    EXPECT_EQ(fileRecords(target), recordsAsFileStoresThem());
}

TEST_F(AccessImportFileTest, ARefusedSourceChangesNothingAndLeavesNoNewFile)
{
    // Employees and a record of its own, so that the source's employees are all new to it
    // and each refusal comes after rows have been written.
    const QString existing = path("kq.sqlite");
    ASSERT_EQ(
        runKqdb({QStringLiteral("create"), existing, QStringLiteral("--employees"), QStringLiteral("3")})
            .exitCode,
        0);
    ASSERT_EQ(runKqdb({QStringLiteral("swipe"), existing, QStringLiteral("0001")}).exitCode, 0);
    const QByteArray before = fileBytes(existing);

    const QString notAccess = path("notes.mdb");
    writeFile(notAccess, QByteArray("just some notes, not a database\n").repeated(100));
    // Past the first pages the file is cut off: the tables are found, their rows are not.
    const QString cut = path("cut.mdb");
    {
        const QByteArray big = fileBytes(TestSupport::AccessFixtures::bigFile());
        writeFile(cut, big.left(big.size() * 3 / 5));
    }
    const QString dateWithATime = doctored("d.mdb", [](QByteArray& bytes) {
        // Both records of 2024-03-05 get noon as their date.
        const QList<qsizetype> at = serialOffsets(bytes, 45356.0);
        ASSERT_EQ(at.size(), 2);
        for (qsizetype offset : at)
            putSerial(bytes, offset, 45356.5);
    });
    const QString timeWithADate = doctored("t.mdb", [](QByteArray& bytes) {
        const QList<qsizetype> at = serialOffsets(bytes, 32370.0 / 86400.0); // 08:59:30
        ASSERT_EQ(at.size(), 1);
        putSerial(bytes, at.first(), 45355.0 + 32370.0 / 86400.0);
    });
    const QString noNumber = doctored("nonumber.mdb", [](QByteArray& bytes) {
        // employ's first row (columns num, name, dept_no) loses its number.
        const qsizetype text = std::max(bytes.indexOf(QByteArray("0\0"
                                                                 "1\0"
                                                                 "0\0"
                                                                 "5\0",
                                                                 8)),
                                        bytes.indexOf(QByteArray("\xff\xfe"
                                                                 "0105",
                                                                 6)));
        ASSERT_GE(text, 0);
        const qsizetype mask = nullMaskOf(bytes, text);
        ASSERT_GE(mask, 0);
        bytes[mask] = char(bytes[mask] & ~0x01);
    });
    const QString numberTwice = doctored("twice.mdb", [](QByteArray& bytes) {
        // Jet 4 keeps a text as UTF-16 or, compressed, as one byte per character.
        const QByteArray utf16("0\0"
                               "1\0"
                               "0\0"
                               "5\0",
                               8);
        const QByteArray compressed("\xff\xfe"
                                    "0105",
                                    6);
        const qsizetype wide = bytes.indexOf(utf16);
        const qsizetype narrow = bytes.indexOf(compressed);
        ASSERT_TRUE(wide >= 0 || narrow >= 0);
        if (wide >= 0)
            bytes[wide + 6] = '1';
        else
            bytes[narrow + 5] = '1';
    });

    const QString longNumber = path("longnum.mdb");
    writeFile(longNumber, withLongerText(true));
    const QString longName = path("longname.mdb");
    writeFile(longName, withLongerText(false));

    struct Case
    {
        QString source;
        QString says;
    };
    const Case cases[] = {
        {longNumber,
         QStringLiteral(
             "employ row 2, column num \"0101-2024-01\" is 12 bytes long in GBK; the column holds 10 "
             "(VARCHAR(10))")},
        {longName,
         QStringLiteral(
             "sgdjb row 6, column name \"O'Neil, Patricia Anne Smith\" is 27 bytes long in GBK; the "
             "column holds 20 (VARCHAR(20))")},
        {notAccess, QStringLiteral("notes.mdb")},
        {cut, QStringLiteral("cut.mdb")},
        {dateWithATime,
         QStringLiteral("sgdjb row 5, column D: 45356.5 is not a date at midnight (it stands for 2024-03-05 "
                        "12:00:00)")},
        {timeWithADate, QStringLiteral("sgdjb row 1, column T: 45355.37465277")},
        {numberTwice, QStringLiteral("employ row 2: num 0101 repeats row 1")},
        {noNumber, QStringLiteral("employ row 1: num is NULL; every employee needs a number")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source.toStdString());
        for (const bool skip : {false, true}) {
            const QStringList options = skip ? QStringList{QStringLiteral("--skip-existing")} : QStringList{};
            ToolRun run = importMdb(c.source, existing, options);
            EXPECT_EQ(run.exitCode, 1) << text(run);
            EXPECT_EQ(run.out, "");
            EXPECT_TRUE(QString::fromUtf8(run.err).contains(c.says)) << text(run);
            EXPECT_TRUE(run.err.endsWith("; nothing imported\n")) << text(run);
            EXPECT_EQ(fileBytes(existing), before);

            const QString fresh = path("fresh.sqlite");
            run = importMdb(c.source, fresh, options);
            EXPECT_EQ(run.exitCode, 1) << text(run);
            EXPECT_FALSE(QFileInfo::exists(fresh));
            EXPECT_FALSE(QFileInfo::exists(fresh + QStringLiteral("-journal")));
        }
    }
    EXPECT_TRUE(QString::fromUtf8(importMdb(timeWithADate, path("fresh.sqlite")).err)
                    .contains(QStringLiteral("is not a time of day on 1899-12-30 (it stands for 2024-03-04 "
                                             "08:59:30)")));
}

TEST_F(AccessImportFileTest, UsageMistakesAreRefusedBeforeAnythingIsRead)
{
    for (const QStringList& args :
         {QStringList{}, QStringList{kq2000()}, QStringList{kq2000(), path("a.sqlite"), path("b.sqlite")},
          QStringList{kq2000(), path("a.sqlite"), QStringLiteral("--replace")}}) {
        const ToolRun run = runKqdb(QStringList{QStringLiteral("import-mdb")} + args);
        EXPECT_EQ(run.exitCode, 2) << text(run);
        EXPECT_TRUE(run.err.contains("usage: kqdb import-mdb SOURCE.mdb TARGET")) << text(run);
        EXPECT_FALSE(QFileInfo::exists(path("a.sqlite")));
    }
}

TEST_F(AccessImportFileTest, TheBigFileComesOverWithTheRightCounts)
{
    const QString target = path("big.sqlite");
    const ToolRun run = importMdb(TestSupport::AccessFixtures::bigFile(), target);
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(run.out.toStdString(), "employees: 20000 read, 20000 written, 0 skipped as already there\n"
                                     "attendance records: 200000 read, 200000 written, 0 skipped as already "
                                     "there\n");
    const SqliteFile db(target, SqliteFile::Mode::ReadOnly);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(DISTINCT num) FROM employ")), 20000);
    EXPECT_EQ(db.text(QStringLiteral("SELECT min(num) || ' ' || max(num) FROM employ")),
              QStringLiteral("000001 020000"));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 200000);
    // Every record in 2024, on a midnight, with a time of day within the day.
    EXPECT_EQ(
        db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb WHERE D >= %1 AND D < %2 AND D % 86400 = 0 "
                                 "AND T >= 0 AND T < 86400")
                      .arg(wallSeconds(QStringLiteral("2024-01-01 00:00:00")))
                      .arg(wallSeconds(QStringLiteral("2025-01-01 00:00:00")))),
        200000);
    EXPECT_EQ(
        db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb WHERE num NOT IN (SELECT num FROM employ)")), 0);
}

// In process: the progress callback counts every source row once, up to the total.
TEST(AccessImport, ProgressCountsEverySourceRow)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("kq.sqlite"));
    ASSERT_EQ(runKqdb({QStringLiteral("create"), target}).exitCode, 0);
    AccessSource source(kq2000());
    AdoConnection connection;
    connection.setConnectionString(TestSupport::jetConnectionString(target));
    QList<qint64> done;
    qint64 total = 0;
    const AccessImport::Result result = AccessImport::run(source, connection, {}, [&](qint64 d, qint64 t) {
        done.append(d);
        total = t;
    });
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(total, 14);
    EXPECT_EQ(done, (QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
}

// The terminal and kqdb, pointed at an Access file, name the command that brings it over.
TEST(AccessFileWhereTheDatabaseBelongs, TheTerminalAndKqdbNameTheWayOut)
{
    TestSupport::TerminalProcess terminal;
    const QString copy = terminal.path(QStringLiteral("kq.mdb"));
    ASSERT_TRUE(QFile::copy(kq2000(), copy));
    const QByteArray bytes = fileBytes(copy);
    const QByteArray wayOut = "it is a Microsoft Access database; bring it over with: kqdb import-mdb " +
                              copy.toUtf8() + " NEW.sqlite";

    const TestSupport::TerminalProcess::Run started =
        terminal.runUntilLogged({QStringLiteral("--database"), copy});
    EXPECT_TRUE(started.stayedUp);
    const QByteArray log = terminal.errorLog();
    EXPECT_EQ(TestSupport::logLineCount(log), 1) << log.constData();
    EXPECT_TRUE(log.contains(wayOut)) << log.constData();

    const ToolRun run = runKqdb({QStringLiteral("swipe"), copy, QStringLiteral("0101")});
    EXPECT_EQ(run.exitCode, 1) << text(run);
    EXPECT_TRUE(run.err.contains(wayOut)) << text(run);
    EXPECT_EQ(fileBytes(copy), bytes);

    // Following the advice works.
    const QString brought = terminal.path(QStringLiteral("NEW.sqlite"));
    ASSERT_EQ(importMdb(copy, brought).exitCode, 0);
    EXPECT_EQ(fileEmployees(brought), kEmployees);
}

// Against a real server: one throwaway server for the suite, a new database per test.
class AccessImportServerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_server = new PgTestServer(); }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override { newDatabase(); }
    // A database of its own with the schema, as the target.
    void newDatabase()
    {
        ASSERT_NE(s_server, nullptr);
        m_db = QStringLiteral("import%1").arg(++s_databases);
        s_server->createDatabase(m_db);
        m_target = s_server->conninfo(m_db);
        const ToolRun run = runKqdb({QStringLiteral("create"), m_target});
        ASSERT_EQ(run.exitCode, 0) << text(run);
    }

    QString psql(const QString& sql) const { return s_server->psql(sql, m_db); }
    QStringList employees() const
    {
        return psql(QStringLiteral("SELECT string_agg(num || '|' || coalesce(name, '<NULL>') || '|' || "
                                   "coalesce(dept_no, '<NULL>'), E'\\n' ORDER BY ctid) FROM employ"))
            .split(u'\n');
    }
    // num|name|D + T, and the columns' own values as the server shows them.
    QStringList records() const
    {
        return psql(QStringLiteral("SELECT string_agg(num || '|' || name || '|' || to_char(d + t, "
                                   "'YYYY-MM-DD HH24:MI:SS') || '|' || d || ' ' || t || ' ' || opdate, "
                                   "E'\\n' ORDER BY ctid) FROM sgdjb"))
            .split(u'\n');
    }
    QString counts() const
    {
        return psql(
            QStringLiteral("SELECT (SELECT count(*) FROM employ) || ' ' || (SELECT count(*) FROM sgdjb)"));
    }

    static PgTestServer* s_server;
    static int s_databases;
    QString m_db;
    QString m_target;
};

PgTestServer* AccessImportServerTest::s_server = nullptr;
int AccessImportServerTest::s_databases = 0;

QStringList recordsAsServerShowsThem()
{
    QStringList rows;
    for (const QString& record : kRecords) {
        const QString instant = record.section(u'|', 2);
        rows.append(record + u'|' + instant.left(10) + u' ' + instant.mid(11) +
                    QStringLiteral(" 1999-01-01"));
    }
    return rows;
}

TEST_F(AccessImportServerTest, EveryRowAndInstantComesOverAndASecondRunAddsNothing)
{
    for (const char* fixture : {"kq2000.mdb", "kq2003.mdb"}) {
        SCOPED_TRACE(fixture);
        if (QByteArray(fixture) == "kq2003.mdb")
            newDatabase();
        const QString source = TestSupport::AccessFixtures::path(QString::fromLatin1(fixture));
        ToolRun run = importMdb(source, m_target);
        ASSERT_EQ(run.exitCode, 0) << text(run);
        EXPECT_EQ(run.out.toStdString(),
                  "employees: 8 read, 8 written, 0 skipped as already there\n"
                  "attendance records: 6 read, 6 written, 0 skipped as already there\n");
        EXPECT_EQ(employees(), kEmployees);
        EXPECT_EQ(records(), recordsAsServerShowsThem());

        run = importMdb(source, m_target, {QStringLiteral("--skip-existing")});
        ASSERT_EQ(run.exitCode, 0) << text(run);
        EXPECT_EQ(run.out.toStdString(),
                  "employees: 8 read, 0 written, 8 skipped as already there\n"
                  "attendance records: 6 read, 0 written, 6 skipped as already there\n");
        EXPECT_EQ(counts(), QStringLiteral("8 6"));
    }
}

TEST_F(AccessImportServerTest, AFileWithRowsMovedAndDeletedByLaterEditsComesOverExactly)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("edited.mdb"));
    writeFile(source, edited());
    const ToolRun run = importMdb(source, m_target);
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(employees(), kEditedEmployees);
    EXPECT_EQ(records(), editedRecords(recordsAsServerShowsThem()));
}

TEST_F(AccessImportServerTest, RefusalsChangeNothing)
{
    ASSERT_EQ(importMdb(kq2000(), m_target).exitCode, 0);
    ToolRun run = importMdb(kq2000(), m_target);
    EXPECT_EQ(run.exitCode, 1) << text(run);
    EXPECT_NE(run.err.indexOf("num 0105 is already in the database"), -1) << text(run);
    EXPECT_EQ(counts(), QStringLiteral("8 6"));

    QTemporaryDir dir;
    QByteArray bytes = fileBytes(kq2000());
    const QList<qsizetype> at = serialOffsets(bytes, 32370.0 / 86400.0);
    ASSERT_EQ(at.size(), 1);
    putSerial(bytes, at.first(), 1e300);
    const QString doctored = dir.filePath(QStringLiteral("t.mdb"));
    writeFile(doctored, bytes);
    run = importMdb(doctored, m_target, {QStringLiteral("--skip-existing")});
    EXPECT_EQ(run.exitCode, 1) << text(run);
    EXPECT_NE(run.err.indexOf("sgdjb row 1, column T: 1.0000000000000001e+300 is not a valid date serial"),
              -1)
        << text(run);
    EXPECT_EQ(counts(), QStringLiteral("8 6"));

    // A number longer than the server's column, refused by the import itself, naming what
    // the server's own error would not.
    const QString longNumber = dir.filePath(QStringLiteral("longnum.mdb"));
    writeFile(longNumber, withLongerText(true));
    newDatabase();
    run = importMdb(longNumber, m_target);
    EXPECT_EQ(run.exitCode, 1) << text(run);
    EXPECT_EQ(run.err.toStdString(),
              "kqdb: employ row 2, column num \"0101-2024-01\" is 12 bytes long in GBK; the column holds 10 "
              "(character varying(10)); nothing imported\n")
        << text(run);
    EXPECT_EQ(counts(), QStringLiteral("0 0"));
    psql(QStringLiteral("ALTER TABLE employ ALTER COLUMN num TYPE varchar(12)"));
    run = importMdb(longNumber, m_target);
    EXPECT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(employees().value(1), QStringLiteral("0101-2024-01|张三|01"));

    // Damage found after many rows have gone to the server: all of them are taken back.
    newDatabase();
    ASSERT_EQ(importMdb(kq2000(), m_target).exitCode, 0);
    const QByteArray big = fileBytes(TestSupport::AccessFixtures::bigFile());
    const QString cut = dir.filePath(QStringLiteral("cut.mdb"));
    writeFile(cut, big.left(big.size() * 3 / 5));
    run = importMdb(cut, m_target);
    EXPECT_EQ(run.exitCode, 1) << text(run);
    EXPECT_TRUE(run.err.endsWith("; nothing imported\n")) << text(run);
    EXPECT_EQ(counts(), QStringLiteral("8 6"));
}

TEST_F(AccessImportServerTest, ASwipeTwoMinutesAfterAnImportedRecordIsAlreadyRecorded)
{
    ASSERT_EQ(importMdb(kq2000(), m_target).exitCode, 0);
    ToolRun run = runKqdb({QStringLiteral("swipe"), m_target, QStringLiteral("0101"), QStringLiteral("--now"),
                           QStringLiteral("2024-03-04 09:01:30")});
    EXPECT_EQ(run.exitCode, 4) << text(run);
    EXPECT_EQ(run.out.toStdString(), "【0101 张三】 2024-03-04 08:59 已刷卡\n");
    run = runKqdb({QStringLiteral("swipe"), m_target, QStringLiteral("0101"), QStringLiteral("--now"),
                   QStringLiteral("2024-03-04 09:03:00")});
    EXPECT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(counts(), QStringLiteral("8 7"));
}

TEST_F(AccessImportServerTest, NullDatesComeOverAsNull)
{
    QTemporaryDir dir;
    const QByteArray bytes = withNullDates();
    ASSERT_FALSE(bytes.isEmpty());
    const QString source = dir.filePath(QStringLiteral("nulls.mdb"));
    writeFile(source, bytes);
    const ToolRun run = importMdb(source, m_target);
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(
        psql(QStringLiteral("SELECT string_agg(coalesce(d::text, 'NULL') || ' ' || coalesce(t::text, "
                            "'NULL') || ' ' || coalesce(opdate::text, 'NULL'), E'\\n' ORDER BY ctid) "
                            "FROM (SELECT ctid, * FROM sgdjb ORDER BY ctid LIMIT 3) first")),
        QStringLiteral("2024-03-04 NULL 1999-01-01\nNULL 09:00:00 1999-01-01\n2024-03-04 18:02:11 NULL"));
}

TEST_F(AccessImportServerTest, TheBigFileComesOverWithTheRightCounts)
{
    const ToolRun run = importMdb(TestSupport::AccessFixtures::bigFile(), m_target);
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(counts(), QStringLiteral("20000 200000"));
    EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE d >= '2024-01-01' AND d < '2025-01-01'")),
              QStringLiteral("200000"));
}

} // namespace
