#include "db/AccessDateSerial.h"
#include "db/AccessSource.h"
#include "platform/EAccessFileError.h"
#include "support/AccessFixtures.h"
#include "support/DevDatabase.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <random>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::HasSubstr;
using TestSupport::AccessFixtures;

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
        } catch (const EAccessFileError& e) {
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
    EXPECT_THAT(refusalOf(m_dir.filePath(u"absent.mdb"_qs)), HasSubstr("there is no such file"));
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
        } catch (const EAccessFileError& e) {
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
    } catch (const EAccessFileError& e) {
        EXPECT_THAT(e.message().toStdString(),
                    HasSubstr("it is damaged: reading it made no progress for 0.5 s"));
    }
    ASSERT_TRUE(stopped);
    EXPECT_LT(rows, 200000);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(children().empty()) << "the stalled process was left behind";
}

TEST_F(AccessRefusal, RowsMovedByALaterEditAskForACompactedCopy)
{
    // The first row offset of employ's data page (page 26, offsets from byte 14) marked
    // as pointing to where a later edit moved the row.
    QByteArray moved = original();
    moved[26 * kPage + 15] = char(std::uint8_t(moved[26 * kPage + 15]) | 0x80);
    const std::string message = refusalOf(copy(moved));
    EXPECT_THAT(message, HasSubstr("row 1 of table 'employ' was moved to another page by a later edit"));
    EXPECT_THAT(message, HasSubstr("import the compacted copy"));
}

TEST_F(AccessRefusal, AFolderIsRefused)
{
    EXPECT_THAT(refusalOf(m_dir.path()), HasSubstr("it is a folder"));
}

} // namespace
