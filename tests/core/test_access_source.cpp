#include "interchange/AccessDateSerial.h"
#include "interchange/AccessSource.h"
#include "platform/AccessFileError.h"
#include "support/AccessFixtures.h"
#include "support/AccessPageEditor.h"
#include "support/DevDatabase.h"
#include "support/TestSupport.h"
#include "support/ToolRun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <random>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::HasSubstr;
using TestSupport::AccessFixtures;
using TestSupport::AccessPageEditor;

namespace {

constexpr qsizetype kPage = 4096;

struct EmployeeRow
{
    std::optional<QString> num, name, deptNo;
    bool operator==(const EmployeeRow&) const = default;
};

// One attendance row as the user sees it: texts and the instants the serials stand for.
struct AttendanceRow
{
    std::optional<QString> num, name;
    QString instant; // D + T as "yyyy-MM-dd HH:mm:ss"
    QString opdate;  // "yyyy-MM-dd"
    bool operator==(const AttendanceRow&) const = default;
};

void PrintTo(const EmployeeRow& r, std::ostream* os)
{
    *os << (r.num ? r.num->toStdString() : "NULL") << " | " << (r.name ? r.name->toStdString() : "NULL")
        << " | " << (r.deptNo ? r.deptNo->toStdString() : "NULL");
}

void PrintTo(const AttendanceRow& r, std::ostream* os)
{
    *os << (r.num ? r.num->toStdString() : "NULL") << " | " << (r.name ? r.name->toStdString() : "NULL")
        << " | " << r.instant.toStdString() << " | " << r.opdate.toStdString();
}

QString text(DateTimeValue v, const char* format)
{
    return v.toDateTime().toString(QString::fromLatin1(format));
}

std::vector<EmployeeRow> employees(AccessSource& source)
{
    std::vector<EmployeeRow> rows;
    qint64 expectedRow = 0;
    source.readEmployees([&](const AccessSource::Employee& e) {
        EXPECT_EQ(e.row, ++expectedRow);
        rows.push_back({e.num, e.name, e.deptNo});
    });
    return rows;
}

std::vector<AttendanceRow> attendance(AccessSource& source)
{
    std::vector<AttendanceRow> rows;
    qint64 expectedRow = 0;
    source.readAttendance([&](const AccessSource::Attendance& a) {
        EXPECT_EQ(a.row, ++expectedRow);
        const auto d = AccessDateSerial::toDate(a.d.value_or(-1e9));
        const auto t = AccessDateSerial::toTimeOfDay(a.t.value_or(-1e9));
        const auto opdate = AccessDateSerial::toDate(a.opdate.value_or(-1e9));
        EXPECT_TRUE(d && t && opdate) << "row " << a.row;
        if (d && t && opdate)
            rows.push_back(
                {a.num, a.name, text(*d + *t, "yyyy-MM-dd HH:mm:ss"), text(*opdate, "yyyy-MM-dd")});
    });
    return rows;
}

const std::vector<EmployeeRow> kEmployees = {
    {u"0105"_qs, u"王五"_qs, u"01"_qs},         {u"0101"_qs, u"张三"_qs, u"01"_qs},
    {u"0103"_qs, u"李四"_qs, u"02"_qs},         {u"0201"_qs, u"赵敏"_qs, u"02"_qs},
    {u"0202"_qs, u"O'Neil, Pat"_qs, u"03"_qs},  {u"A-07"_qs, u"Zoë \"Z\" Li"_qs, u"03"_qs},
    {u"0301"_qs, u"欧阳修远"_qs, std::nullopt}, {u"0302"_qs, u""_qs, u"04"_qs},
};

const std::vector<AttendanceRow> kAttendance = {
    {u"0101"_qs, u"张三"_qs, u"2024-03-04 08:59:30"_qs, u"1999-01-01"_qs},
    {u"0103"_qs, u"李四"_qs, u"2024-03-04 09:00:00"_qs, u"1999-01-01"_qs},
    {u"0101"_qs, u"张三"_qs, u"2024-03-04 18:02:11"_qs, u"1999-01-01"_qs},
    {u"0201"_qs, u"赵敏"_qs, u"2024-03-04 23:59:59"_qs, u"1999-01-01"_qs},
    {u"0201"_qs, u"赵敏"_qs, u"2024-03-05 00:00:00"_qs, u"1999-01-01"_qs},
    {u"0202"_qs, u"O'Neil, Pat"_qs, u"2024-03-05 07:45:00"_qs, u"1999-01-01"_qs},
};

QByteArray sha(const QString& path)
{
    return QCryptographicHash::hash(TestSupport::fileBytes(path), QCryptographicHash::Sha256);
}

class AccessSourceFixture : public testing::TestWithParam<const char*>
{
};

TEST_P(AccessSourceFixture, EveryRowComesOutAsTheFileHoldsIt)
{
    const QString path = AccessFixtures::path(QString::fromLatin1(GetParam()));
    const QByteArray before = sha(path);
    AccessSource source(path);
    EXPECT_EQ(source.employeeCount(), 8);
    EXPECT_EQ(source.attendanceCount(), 6);
    EXPECT_EQ(employees(source), kEmployees);
    EXPECT_EQ(attendance(source), kAttendance);
    EXPECT_EQ(sha(path), before) << "the source file was changed";
}

TEST_P(AccessSourceFixture, AttendanceAloneAndEachTableTwiceReadTheSameRows)
{
    const QString path = AccessFixtures::path(QString::fromLatin1(GetParam()));
    AccessSource source(path);
    EXPECT_EQ(attendance(source), kAttendance);
    EXPECT_EQ(employees(source), kEmployees);
    EXPECT_EQ(employees(source), kEmployees);
    EXPECT_EQ(attendance(source), kAttendance);
}

INSTANTIATE_TEST_SUITE_P(Jet4, AccessSourceFixture, testing::Values("kq2000.mdb", "kq2003.mdb"));

TEST(AccessSource, APathWithBlanksAndChineseIsRead)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"考勤 数据"_qs));
    const QString path = dir.filePath(u"考勤 数据/kq 'old'.mdb"_qs);
    ASSERT_TRUE(QFile::copy(AccessFixtures::path(u"kq2003.mdb"_qs), path));
    AccessSource source(path);
    EXPECT_EQ(employees(source), kEmployees);
    EXPECT_EQ(attendance(source), kAttendance);
}

TEST(AccessSource, RawSerialsOfTheTimeColumnAreOnTheZeroDate)
{
    AccessSource source(AccessFixtures::path(u"kq2000.mdb"_qs));
    std::vector<double> times;
    source.readAttendance([&](const AccessSource::Attendance& a) { times.push_back(a.t.value_or(-1)); });
    ASSERT_EQ(times.size(), 6u);
    // 23:59:59 and 00:00:00 at the day's turn, as stored.
    EXPECT_DOUBLE_EQ(times[3] * 86400.0, 86399.0);
    EXPECT_EQ(times[4], 0.0);
}

TEST(AccessSource, CompressedTextsComeOutAsUnicode)
{
    // A name rewritten in Jet 4's compressed form, in the same 22 bytes: one byte per
    // character, a zero byte switching to two-byte characters and back.
    QByteArray bytes = TestSupport::fileBytes(AccessFixtures::path(u"kq2000.mdb"_qs));
    const QString stored = u"O'Neil, Pat"_qs;
    const QByteArray utf16(reinterpret_cast<const char*>(stored.utf16()), stored.size() * 2);
    const qsizetype at = bytes.indexOf(utf16, 26 * kPage);
    ASSERT_TRUE(at > 26 * kPage && at < 27 * kPage);
    const QByteArray compressed("\xff\xfePat \0\x20\x5f\x09\x4e\0 O'Neil!!!", 22);
    bytes.replace(at, 22, compressed);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"compressed.mdb"_qs);
    TestSupport::writeFile(path, bytes);

    AccessSource source(path);
    std::vector<EmployeeRow> expected = kEmployees;
    expected[4].name = u"Pat 张三 O'Neil!!!"_qs;
    EXPECT_EQ(employees(source), expected);
}

TEST(AccessSource, BigFileCountsAndFirstAndLastRows)
{
    const QString path = AccessFixtures::bigFile();
    AccessSource source(path);
    EXPECT_EQ(source.employeeCount(), 20000);
    EXPECT_EQ(source.attendanceCount(), 200000);
    qint64 employeesRead = 0;
    EmployeeRow first, last;
    source.readEmployees([&](const AccessSource::Employee& e) {
        if (++employeesRead == 1)
            first = {e.num, e.name, e.deptNo};
        last = {e.num, e.name, e.deptNo};
    });
    EXPECT_EQ(employeesRead, 20000);
    EXPECT_EQ(first.num, u"000001"_qs);
    EXPECT_EQ(last.num, u"020000"_qs);
    qint64 attendanceRead = 0;
    QString firstInstant, lastInstant;
    source.readAttendance([&](const AccessSource::Attendance& a) {
        ++attendanceRead;
        const auto d = AccessDateSerial::toDate(a.d.value_or(-1e9));
        const auto t = AccessDateSerial::toTimeOfDay(a.t.value_or(-1e9));
        ASSERT_TRUE(d && t) << "row " << a.row;
        const QString instant = text(*d + *t, "yyyy-MM-dd HH:mm:ss");
        if (attendanceRead == 1)
            firstInstant = instant;
        lastInstant = instant;
        ASSERT_TRUE(instant.startsWith(u"2024-")) << "row " << a.row << ": " << instant.toStdString();
    });
    EXPECT_EQ(attendanceRead, 200000);
    EXPECT_FALSE(firstInstant.isEmpty());
    EXPECT_FALSE(lastInstant.isEmpty());
}

// Copies of a fixture changed in one place, each refused with its own reason.
class AccessRefusal : public testing::Test
{
protected:
    QString copy(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("doctored-%1.mdb").arg(++m_copies));
        TestSupport::writeFile(path, bytes);
        return path;
    }
    static QByteArray original() { return TestSupport::fileBytes(AccessFixtures::path(u"kq2000.mdb"_qs)); }

    // The message of the refusal, or a failure when the file is read.
    static std::string refusalOf(const QString& path)
    {
        try {
            AccessSource source(path);
            source.readEmployees([](const AccessSource::Employee&) {});
            source.readAttendance([](const AccessSource::Attendance&) {});
        } catch (const AccessFileError& e) {
            EXPECT_THAT(e.message().toStdString(), HasSubstr(path.toStdString()));
            return e.message().toStdString();
        }
        ADD_FAILURE() << path.toStdString() << " was read";
        return {};
    }

    // Offset of the first occurrence of a table or column name, as Jet 4 stores it.
    static qsizetype find(const QByteArray& bytes, const QString& name, qsizetype from = 0)
    {
        const QByteArray utf16(reinterpret_cast<const char*>(name.utf16()), name.size() * 2);
        const qsizetype at = bytes.indexOf(utf16, from);
        EXPECT_GE(at, 0) << name.toStdString() << " not found";
        return at;
    }

    QTemporaryDir m_dir;
    int m_copies = 0;
};

TEST_F(AccessRefusal, TextAndSqliteFilesAreNoAccessDatabases)
{
    EXPECT_THAT(refusalOf(copy("num,name\n0101,Li\n")), HasSubstr("it is not an Access database."));
    EXPECT_THAT(refusalOf(copy({})), HasSubstr("it is not an Access database."));
    TestSupport::DevDatabase sqlite;
    EXPECT_THAT(refusalOf(sqlite.path()), HasSubstr("it is not an Access database but an SQLite database"));
    EXPECT_THAT(refusalOf(m_dir.filePath(u"absent.mdb"_qs)), HasSubstr("Could not find file"));
}

TEST_F(AccessRefusal, OtherAccessVersionsSayHowToGetAJet4Copy)
{
    QByteArray jet3 = original();
    jet3[0x14] = 0;
    EXPECT_THAT(refusalOf(copy(jet3)), HasSubstr("it is an Access 97 (Jet 3) database"));
    EXPECT_THAT(refusalOf(copy(jet3)), HasSubstr("To Access 2000 File Format"));

    QByteArray ace = original();
    ace.replace(4, 15, "Standard ACE DB");
    ace[0x14] = 3;
    EXPECT_THAT(refusalOf(copy(ace)), HasSubstr("it is an Access 2007 or later (ACE, .accdb) database"));
    EXPECT_THAT(refusalOf(copy(ace)), HasSubstr("Access 2002-2003 Database (*.mdb)"));

    QByteArray future = original();
    future[0x14] = 0x40;
    EXPECT_THAT(refusalOf(copy(future)), HasSubstr("of an unknown version (version byte 64)"));
}

TEST_F(AccessRefusal, EncryptedDatabase)
{
    QByteArray encrypted = original();
    // The database key lies in the masked part of the header; any change of its bytes
    // makes it non-zero.
    encrypted[0x3e] = char(encrypted[0x3e] ^ 0x5a);
    EXPECT_THAT(refusalOf(copy(encrypted)), HasSubstr("it is encrypted; decrypt it in Access"));
}

TEST_F(AccessRefusal, TruncatedCopies)
{
    const QByteArray bytes = original();
    EXPECT_THAT(
        refusalOf(copy(bytes.left(100000))),
        HasSubstr("it is damaged: its length, 100000 bytes, is not a whole number of 4096-byte pages"));
    EXPECT_THAT(refusalOf(copy(bytes.left(kPage))), HasSubstr("it is damaged: it ends after its first page"));
    // Cut at a page boundary before the tables' pages: whatever libmdb makes of it, the
    // refusal says damaged.
    EXPECT_THAT(refusalOf(copy(bytes.left(20 * kPage))), HasSubstr("it is damaged"));
}

TEST_F(AccessRefusal, DamagedTablePages)
{
    const QByteArray bytes = original();
    // Page 30 holds sgdjb's rows, page 26 employ's.
    for (const int page : {26, 30}) {
        QByteArray damaged = bytes;
        for (qsizetype i = page * kPage; i < (page + 1) * kPage; ++i)
            damaged[i] = char((i * 131) & 0xff);
        EXPECT_THAT(refusalOf(copy(damaged)), HasSubstr("it is damaged")) << "page " << page;
    }
    QByteArray zeroed = bytes;
    zeroed.replace(30 * kPage, kPage, QByteArray(kPage, '\0'));
    EXPECT_THAT(refusalOf(copy(zeroed)), HasSubstr("table 'sgdjb' declares 6 rows, but 0 could be read"));
}

TEST_F(AccessRefusal, MissingTableMissingColumnAndWrongType)
{
    QByteArray noSgdjb = original();
    noSgdjb[find(noSgdjb, u"sgdjb"_qs)] = 'x';
    EXPECT_THAT(refusalOf(copy(noSgdjb)), HasSubstr("it has no table 'sgdjb'"));

    QByteArray noEmploy = original();
    noEmploy[find(noEmploy, u"employ"_qs)] = 'E';
    noEmploy[find(noEmploy, u"Employ"_qs) + 2] = 'x';
    EXPECT_THAT(refusalOf(copy(noEmploy)), HasSubstr("it has no table 'employ'"));

    // The column names of sgdjb's definition: "D", "T", "opdate", each after its length.
    QByteArray noT = original();
    const qsizetype names = find(noT, u"opdate"_qs, 28 * kPage);
    ASSERT_EQ(noT.mid(names - 6, 4), QByteArray("\x02\0T\0", 4));
    noT[names - 4] = 'U';
    EXPECT_THAT(refusalOf(copy(noT)), HasSubstr("table 'sgdjb' has no column 'T'"));

    // Column entries of 25 bytes each start with the type: Text twice, Date/Time thrice.
    QByteArray dText = original();
    qsizetype first = -1;
    for (qsizetype i = 28 * kPage; i < 29 * kPage - 101 && first < 0; ++i) {
        const auto at = [&](qsizetype k) { return std::uint8_t(dText[i + 25 * k]); };
        if (at(0) == 0x0a && at(1) == 0x0a && at(2) == 0x08 && at(3) == 0x08 && at(4) == 0x08)
            first = i;
    }
    ASSERT_GE(first, 0);
    dText[first + 50] = 0x0a;
    EXPECT_THAT(refusalOf(copy(dText)),
                HasSubstr("column 'D' of table 'sgdjb' is of type Text, not Date/Time"));
}

// What this process writes to its standard error while `run` runs.
template <typename F> QByteArray stderrOf(F run)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"stderr"_qs);
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    run();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    return TestSupport::fileBytes(path);
}

TEST_F(AccessRefusal, DamageThatCrashesTheLibraryIsReportedAsDamagedAndPrintsNothing)
{
    // One byte of employ's table definition (page 24) that makes the library crash here.
    QByteArray bytes = original();
    bytes[24 * kPage + 55] = char(0x95);
    const QString path = copy(bytes);
    std::string message;
    EXPECT_EQ(stderrOf([&] { message = refusalOf(path); }), QByteArray());
    EXPECT_THAT(message, HasSubstr("it is damaged"));
    EXPECT_THAT(message, HasSubstr("Compact and Repair Database"));
}

TEST_F(AccessRefusal, RandomDamageEndsInRowsOrARefusalSayingWhat)
{
    const QByteArray bytes = original();
    std::mt19937 random(20240304);
    int read = 0;
    for (int trial = 0; trial < 250; ++trial) {
        QByteArray damaged = bytes;
        // The catalogue, the tables' definitions and their rows.
        const int pages[] = {2, 14, 24, 26, 28, 30};
        const int page = pages[random() % 6];
        for (std::uint_fast32_t k = 0, n = 1 + random() % 6; k < n; ++k)
            damaged[page * kPage + qsizetype(random() % kPage)] = char(random() % 256);
        const QString path = copy(damaged);
        try {
            AccessSource source(path);
            source.readEmployees([](const AccessSource::Employee&) {});
            source.readAttendance([](const AccessSource::Attendance&) {});
            ++read;
        } catch (const AccessFileError& e) {
            const std::string message = e.message().toStdString();
            EXPECT_THAT(message, HasSubstr(path.toStdString()));
            // Faults of the reader's own making, never of the file's.
            EXPECT_THAT(message, testing::Not(HasSubstr("garbled"))) << "trial " << trial;
            EXPECT_THAT(message, testing::Not(HasSubstr("arrived"))) << "trial " << trial;
        }
        QFile::remove(path);
    }
    // Most single bytes land where they change a value, not the structure.
    EXPECT_GT(read, 0);
}

TEST(AccessSource, ASinkThatThrowsStopsTheReadAndTheNextReadStartsAfresh)
{
    AccessSource source(AccessFixtures::bigFile());
    qint64 seen = 0;
    EXPECT_THROW(source.readAttendance([&](const AccessSource::Attendance& a) {
        if (++seen == 1000)
            throw std::runtime_error("target full");
        (void)a;
    }),
                 std::runtime_error);
    qint64 rows = 0;
    qint64 last = 0;
    source.readAttendance([&](const AccessSource::Attendance& a) {
        ++rows;
        last = a.row;
    });
    EXPECT_EQ(rows, 200000);
    EXPECT_EQ(last, 200000);
}

// The processes this test process started, found through /proc.
std::vector<pid_t> children()
{
    std::vector<pid_t> found;
    for (const QString& entry : QDir(u"/proc"_qs).entryList(QDir::Dirs)) {
        bool number = false;
        const int pid = entry.toInt(&number);
        if (!number)
            continue;
        const QByteArray stat = TestSupport::fileBytes(u"/proc/%1/stat"_qs.arg(entry));
        // "pid (name) state ppid ...": the name may hold blanks, so read after its ')'.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == ::getpid())
            found.push_back(pid);
    }
    return found;
}

TEST(AccessSource, AReaderThatStallsIsStoppedAndTheFileReportedDamaged)
{
    AccessSource source(AccessFixtures::bigFile(), std::chrono::milliseconds(500));
    bool stopped = false;
    qint64 rows = 0;
    QElapsedTimer timer;
    try {
        source.readAttendance([&](const AccessSource::Attendance&) {
            if (++rows > 1 || stopped)
                return;
            // As a library caught in a loop of pages would: alive, saying nothing.
            for (const pid_t child : children())
                stopped = ::kill(child, SIGSTOP) == 0 || stopped;
            timer.start();
        });
        ADD_FAILURE() << "read " << rows << " rows";
    } catch (const AccessFileError& e) {
        EXPECT_THAT(e.message().toStdString(),
                    HasSubstr("it is damaged: reading it made no progress for 0.5 s"));
    }
    ASSERT_TRUE(stopped);
    EXPECT_LT(rows, 200000);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(children().empty()) << "the stalled process was left behind";
}

// The pages of the table definitions of employ and sgdjb in the small fixtures.
struct EditedFixture
{
    const char* file;
    int employ;
    int sgdjb;
};

void PrintTo(const EditedFixture& f, std::ostream* os)
{
    *os << f.file;
}

// Copies of a fixture edited as the attendance software edits a file over the years:
// rows grown by a rename, a department given later or a corrected name are moved to a
// new data page, their old slots left pointing there; some rows deleted.
class AccessLaterEdits : public testing::TestWithParam<EditedFixture>
{
protected:
    AccessPageEditor original() const
    {
        return AccessPageEditor(
            TestSupport::fileBytes(AccessFixtures::path(QString::fromLatin1(GetParam().file))));
    }
    QString write(const AccessPageEditor& file)
    {
        const QString path = m_dir.filePath(QStringLiteral("edited-%1.mdb").arg(++m_copies));
        TestSupport::writeFile(path, file.bytes());
        return path;
    }
    static int onlyDataPage(const AccessPageEditor& file, int table)
    {
        const QList<int> pages = file.dataPages(table);
        EXPECT_EQ(pages.size(), 1);
        return pages.value(0, -1);
    }
    static QByteArray grown(const AccessPageEditor& file, int page, int slot,
                            const QList<std::optional<QString>>& texts)
    {
        return AccessPageEditor::withTexts(file.row(page, slot), texts);
    }

    // The message of the refusal, or a failure when the file is read.
    static std::string refusalOf(const QString& path)
    {
        try {
            AccessSource source(path);
            source.readEmployees([](const AccessSource::Employee&) {});
            source.readAttendance([](const AccessSource::Attendance&) {});
        } catch (const AccessFileError& e) {
            return e.message().toStdString();
        }
        ADD_FAILURE() << path.toStdString() << " was read";
        return {};
    }

    QTemporaryDir m_dir;
    int m_copies = 0;
};

TEST_P(AccessLaterEdits, MovedRowsAreReadOnceAtTheirNewPlaceInTheTablesOrderAndDeletedRowsNot)
{
    AccessPageEditor file = original();
    const int employ = GetParam().employ;
    const int sgdjb = GetParam().sgdjb;
    const int employPage = onlyDataPage(file, employ);
    const int sgdjbPage = onlyDataPage(file, sgdjb);
    const QByteArray before = file.bytes();
    const int newEmployPage = file.addDataPage(employ);
    const int newSgdjbPage = file.addDataPage(sgdjb);

    // Renamed.
    file.moveRow(employPage, 1, grown(file, employPage, 1, {u"0101"_qs, u"张三丰"_qs, u"01"_qs}),
                 newEmployPage);
    // A longer name; then deleted, at both its places.
    file.moveRow(employPage, 4,
                 grown(file, employPage, 4, {u"0202"_qs, u"O'Neil-Smith, Patricia"_qs, u"03"_qs}),
                 newEmployPage);
    // Deleted.
    file.deleteRow(employ, employPage, 2);
    // A department given later.
    file.moveRow(employPage, 6, grown(file, employPage, 6, {u"0301"_qs, u"欧阳修远"_qs, u"07"_qs}),
                 newEmployPage);
    // Renamed and then deleted.
    file.moveRow(employPage, 5, grown(file, employPage, 5, {u"A-07"_qs, u"Zoë \"Z\" Li-Moreau"_qs, u"03"_qs}),
                 newEmployPage);
    file.deleteRow(employ, employPage, 5);
    // A name given to the employee without one, its new place on its own page.
    file.moveRow(employPage, 7, grown(file, employPage, 7, {u"0302"_qs, u"新来的人"_qs, u"04"_qs}),
                 employPage);

    // Corrected record names; a record deleted.
    file.moveRow(sgdjbPage, 0, grown(file, sgdjbPage, 0, {u"0101"_qs, u"张三丰"_qs}), newSgdjbPage);
    file.deleteRow(sgdjb, sgdjbPage, 3);
    file.moveRow(sgdjbPage, 5, grown(file, sgdjbPage, 5, {u"0202"_qs, u"O'Neil-Smith, Patricia"_qs}),
                 newSgdjbPage);
    ASSERT_NE(file.bytes(), before);
    ASSERT_EQ(file.flags(employPage, 1), AccessPageEditor::kMovedRow);
    ASSERT_EQ(file.flags(newEmployPage, 0), AccessPageEditor::kReachedByAddress);

    AccessSource source(write(file));
    EXPECT_EQ(source.employeeCount(), 6);
    EXPECT_EQ(source.attendanceCount(), 5);
    const std::vector<EmployeeRow> expectedEmployees = {
        {u"0105"_qs, u"王五"_qs, u"01"_qs},     {u"0101"_qs, u"张三丰"_qs, u"01"_qs},
        {u"0201"_qs, u"赵敏"_qs, u"02"_qs},     {u"0202"_qs, u"O'Neil-Smith, Patricia"_qs, u"03"_qs},
        {u"0301"_qs, u"欧阳修远"_qs, u"07"_qs}, {u"0302"_qs, u"新来的人"_qs, u"04"_qs},
    };
    const std::vector<AttendanceRow> expectedAttendance = {
        {u"0101"_qs, u"张三丰"_qs, u"2024-03-04 08:59:30"_qs, u"1999-01-01"_qs},
        {u"0103"_qs, u"李四"_qs, u"2024-03-04 09:00:00"_qs, u"1999-01-01"_qs},
        {u"0101"_qs, u"张三"_qs, u"2024-03-04 18:02:11"_qs, u"1999-01-01"_qs},
        {u"0201"_qs, u"赵敏"_qs, u"2024-03-05 00:00:00"_qs, u"1999-01-01"_qs},
        {u"0202"_qs, u"O'Neil-Smith, Patricia"_qs, u"2024-03-05 07:45:00"_qs, u"1999-01-01"_qs},
    };
    // The helpers check that the rows are numbered 1, 2, 3... in the order they arrive.
    EXPECT_EQ(employees(source), expectedEmployees);
    EXPECT_EQ(attendance(source), expectedAttendance);
    EXPECT_EQ(employees(source), expectedEmployees);
}

TEST_P(AccessLaterEdits, DamagedAddressesAreRefusedNamingTheRowInTheTablesOrder)
{
    const int employ = GetParam().employ;
    const int sgdjb = GetParam().sgdjb;
    struct Case
    {
        const char* what;
        std::function<void(AccessPageEditor&, int page, int newPage, int otherTablePage)> damage;
        std::string message;
    };
    // In each copy the first row is deleted and the third and fourth moved to a new page,
    // so the third slot holds the table's second row.
    const std::vector<Case> cases = {
        {"a page of another table",
         [](AccessPageEditor& f, int page, int, int other) { f.setAddress(page, 2, other, 0); },
         "row 2 of table 'employ' was moved by a later edit to page %3, which is not one of the "
         "table's pages"},
        {"a page beyond the file",
         [](AccessPageEditor& f, int page, int newPage, int) { f.setAddress(page, 2, newPage + 100, 0); },
         "row 2 of table 'employ' was moved by a later edit to page %4, which is not one of the table's "
         "pages"},
        {"a row the new page does not have",
         [](AccessPageEditor& f, int page, int newPage, int) { f.setAddress(page, 2, newPage, 9); },
         "row 2 of table 'employ' was moved by a later edit to row 9 of page %2, which has no such row"},
        {"two rows sent to the same place",
         [](AccessPageEditor& f, int page, int newPage, int) { f.setAddress(page, 3, newPage, 0); },
         "row 3 of table 'employ' was moved by a later edit to row 0 of page %2, where another row was "
         "read already"},
        {"a row sent back to its own slot",
         [](AccessPageEditor& f, int page, int, int) { f.setAddress(page, 2, page, 2); },
         "row 2 of table 'employ' was moved by a later edit to row 2 of page %1, which was moved on in "
         "its turn (a loop of moved rows)"},
        {"a row sent to a row read in its own right",
         [](AccessPageEditor& f, int page, int, int) { f.setAddress(page, 2, page, 1); },
         "row 2 of table 'employ' was moved by a later edit to row 1 of page %1, which is read as a row "
         "of its own"},
        {"a row sent to a deleted row",
         [](AccessPageEditor& f, int page, int, int) { f.setAddress(page, 2, page, 0); },
         "row 2 of table 'employ' was moved by a later edit to row 0 of page %1, which is deleted"},
        {"a new place no row leads to",
         [](AccessPageEditor& f, int page, int, int) {
             f.setFlags(page, 4, AccessPageEditor::kReachedByAddress);
         },
         "table 'employ' declares 7 rows, but 6 could be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AccessPageEditor file = original();
        const int page = onlyDataPage(file, employ);
        const int other = onlyDataPage(file, sgdjb);
        const int newPage = file.addDataPage(employ);
        file.deleteRow(employ, page, 0);
        file.moveRow(page, 2, file.row(page, 2), newPage);
        file.moveRow(page, 3, file.row(page, 3), newPage);
        c.damage(file, page, newPage, other);
        const QString path = write(file);
        const std::string message = refusalOf(path);
        EXPECT_THAT(message, HasSubstr(path.toStdString()));
        EXPECT_THAT(message, HasSubstr("it is damaged"));
        QString expected = QString::fromStdString(c.message);
        expected.replace(u"%1"_qs, QString::number(page))
            .replace(u"%2"_qs, QString::number(newPage))
            .replace(u"%3"_qs, QString::number(other))
            .replace(u"%4"_qs, QString::number(newPage + 100));
        EXPECT_THAT(message, HasSubstr(expected.toStdString()));
    }
}

INSTANTIATE_TEST_SUITE_P(Jet4, AccessLaterEdits,
                         testing::Values(EditedFixture{"kq2000.mdb", 24, 28},
                                         EditedFixture{"kq2003.mdb", 50, 54}));

TEST(AccessLaterEditsBigFile, ThousandsOfMovedRowsOverManyPagesAreEachReadOnceInOrder)
{
    // kq-big.mdb: employ's definition on page 24, sgdjb's on page 209.
    const QString bigFile = AccessFixtures::bigFile();
    AccessPageEditor file(TestSupport::fileBytes(bigFile));
    std::vector<EmployeeRow> expectedEmployees;
    std::vector<AttendanceRow> expectedAttendance;
    {
        AccessSource source(bigFile);
        expectedEmployees = employees(source);
        expectedAttendance = attendance(source);
    }
    // Every 7th employee renamed, every 50th deleted; every 13th record's name corrected,
    // every 101st deleted. The new places fill new pages, as many as they need.
    const auto edit = [&](int table, auto& expected, int moveEvery, int deleteEvery, auto change) {
        const QList<int> pages = file.dataPages(table);
        int newPage = file.addDataPage(table);
        qsizetype logical = 0;
        std::vector<bool> deleted(expected.size(), false);
        qint64 moved = 0;
        for (const int page : pages) {
            const int slotTotal = file.slotCount(page);
            for (int slot = 0; slot < slotTotal; ++slot, ++logical) {
                ASSERT_LT(logical, qsizetype(expected.size()));
                if (logical % deleteEvery == deleteEvery - 1) {
                    file.deleteRow(table, page, slot);
                    deleted[size_t(logical)] = true;
                } else if (logical % moveEvery == moveEvery - 1) {
                    auto& row = expected[size_t(logical)];
                    row.name = *row.name + u"·改"_qs;
                    const QByteArray grown = change(file.row(page, slot), row);
                    try {
                        file.moveRow(page, slot, grown, newPage);
                    } catch (const std::runtime_error&) {
                        newPage = file.addDataPage(table);
                        file.moveRow(page, slot, grown, newPage);
                    }
                    ++moved;
                }
            }
        }
        ASSERT_EQ(logical, qsizetype(expected.size()));
        std::remove_reference_t<decltype(expected)> kept;
        for (size_t i = 0; i < expected.size(); ++i)
            if (!deleted[i])
                kept.push_back(expected[i]);
        expected = kept;
        EXPECT_GT(moved, 1000);
    };
    edit(24, expectedEmployees, 7, 50, [](const QByteArray& row, const EmployeeRow& e) {
        return AccessPageEditor::withTexts(row, {e.num, e.name, e.deptNo});
    });
    edit(209, expectedAttendance, 13, 101, [](const QByteArray& row, const AttendanceRow& a) {
        return AccessPageEditor::withTexts(row, {a.num, a.name});
    });
    QTemporaryDir dir;
    const QString path = dir.filePath(u"edited-big.mdb"_qs);
    TestSupport::writeFile(path, file.bytes());

    AccessSource source(path);
    EXPECT_EQ(source.employeeCount(), qint64(expectedEmployees.size()));
    EXPECT_EQ(source.attendanceCount(), qint64(expectedAttendance.size()));
    EXPECT_TRUE(employees(source) == expectedEmployees);
    EXPECT_TRUE(attendance(source) == expectedAttendance);
}

// kq2000.mdb with employ's table definition (page 24) declaring 65535 columns and
// continued onto itself: the library reads column after column from the same page,
// taking memory for each.
QByteArray endlessColumns()
{
    QByteArray bytes = TestSupport::fileBytes(AccessFixtures::path(u"kq2000.mdb"_qs));
    const qsizetype definition = 24 * kPage;
    const auto put = [&](qsizetype at, std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes[definition + at + i] = char((value >> (8 * i)) & 0xff);
    };
    put(4, 24, 4);      // the next page of the definition: this one
    put(41, 0xffff, 2); // the highest column number
    put(45, 0xffff, 2); // the number of columns
    return bytes;
}

// Reads a file with tests/drivers/access_read, which starts the reading process from a
// small process of its own: what the reading process takes is then the file's doing.
struct ReaderRun
{
    TestSupport::ToolRun run;
    qint64 peakKiB = -1;
};

ReaderRun readInADriver(const QString& path, const QStringList& budget = {})
{
    ReaderRun result;
    result.run = TestSupport::runProgram(QStringLiteral(TAVELO_TEST_DRIVER_DIR "/access_read"),
                                         QStringList{path} + budget, 60000);
    const QByteArray out = result.run.out;
    const qsizetype at = out.lastIndexOf("reader peak KiB ");
    if (at >= 0)
        result.peakKiB = out.mid(at + 16).trimmed().toLongLong();
    return result;
}

TEST(AccessReaderMemory, AFileThatSendsTheLibraryAfterMoreMemoryThanAllowedIsReportedDamaged)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"endless-columns.mdb"_qs);
    TestSupport::writeFile(path, endlessColumns());
    const ReaderRun plain = readInADriver(AccessFixtures::path(u"kq2000.mdb"_qs));
    ASSERT_EQ(plain.run.exitCode, 0) << plain.run.err.toStdString();
    ASSERT_GT(plain.peakKiB, 0);

    QElapsedTimer timer;
    timer.start();
    const ReaderRun bounded = readInADriver(path, {u"4"_qs});
    EXPECT_EQ(bounded.run.exitCode, 1);
    EXPECT_THAT(bounded.run.err.toStdString(),
                HasSubstr("it is damaged: reading it needed more than 4 MB of memory. Repair a copy"));
    EXPECT_LT(timer.elapsed(), 5000);
    // The process stopped at its bound: its start plus 4 MB, and some room to spare.
    EXPECT_LT(bounded.peakKiB, plain.peakKiB + 8 * 1024);

    // Within the usual bound the same file takes what it takes (some 15 MB) and is refused
    // for what is wrong with it.
    const ReaderRun usual = readInADriver(path);
    EXPECT_EQ(usual.run.exitCode, 1);
    EXPECT_THAT(usual.run.err.toStdString(),
                HasSubstr("it is damaged: the definition of table 'employ' lists an impossible number of "
                          "columns"));
    EXPECT_GT(usual.peakKiB, plain.peakKiB + 8 * 1024);
    std::printf(
        "reading process peak: kq2000.mdb %lld KiB, damaged %lld KiB, damaged bounded to 4 MB %lld KiB\n",
        static_cast<long long>(plain.peakKiB), static_cast<long long>(usual.peakKiB),
        static_cast<long long>(bounded.peakKiB));
}

TEST_F(AccessRefusal, AFolderIsRefused)
{
    EXPECT_THAT(refusalOf(m_dir.path()), HasSubstr("it is a folder"));
}

} // namespace
