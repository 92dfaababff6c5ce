#include "log/ActiveWindowSource.h"
#include "log/ErrMsg.h"
#include "log/ErrMsgForm.h"
#include "platform/AppPaths.h"
#include "platform/QueryParameterError.h"
#include "platform/ConversionError.h"
#include "platform/QueryStateError.h"
#include "platform/FileError.h"
#include "platform/DatabaseError.h"
#include "platform/Gbk.h"
#include "platform/LocaleInfo.h"
#include "support/ManualClock.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FakeWindow : public ActiveWindowSource
{
public:
    QString caption;
    QString activeWindowCaption() const override { return caption; }
};

class NamedError : public Exception
{
public:
    NamedError(QString type, QString message) : Exception(std::move(message)), m_type(std::move(type)) {}
    QString typeName() const override { return m_type; }

private:
    QString m_type;
};

using TestSupport::fileBytes;
using TestSupport::writeFile;

class ErrMsgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_clock.set(QDate(2026, 3, 5), QTime(8, 7, 59));
        ErrMsgForm::instance().setClock(&m_clock);
        ErrMsgForm::instance().setActiveWindowSource(nullptr);
        ASSERT_TRUE(m_dir.isValid());
    }
    void TearDown() override
    {
        ErrMsgForm::instance().setClock(nullptr);
        ErrMsgForm::instance().setActiveWindowSource(nullptr);
    }

    QByteArray tagFor(const QString& caption)
    {
        m_window.caption = caption;
        ErrMsgForm::instance().setActiveWindowSource(&m_window);
        return ErrMsg::ActiveWindowTag();
    }

    QByteArray timeText() const
    {
        const char sep = char(LocaleInfo::timeSeparator().unicode());
        return QByteArray("2026-03-05 08") + sep + "07";
    }

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    ManualClock m_clock;
    FakeWindow m_window;
    QTemporaryDir m_dir;
};

TEST_F(ErrMsgTest, WindowTagFollowsTheCaptionRules)
{
    const struct
    {
        const char* caption;
        QByteArray tag;
    } cases[] = {
        {"Shift Planner-Weekly Roster", "Weekly Roster"},
        {"Records-Import-Daily Punch Card Files", "Daily Punch Card"},
        {"Alpha-Beta-Gamma-Delta Station", "Gamma-Delta Station"},
        {"Attendance Manager - Employee Records", " Employee Records"},
        {"Employee Card Settings-", ""},
        {"Payroll Summary Report", "None Active Window"},
        {"Setup-Options", "None Active Window"},
        {"", "None Active Window"},
        {"Abcdefgh-Ijklmn-Opqr", "None Active Window"},     // 20 bytes
        {"Abcdefgh-Ijklmn-Opqrs", "Opqrs"},                 // 21 bytes
        {"x-y-1234567890123456789", "1234567890123456789"}, // 19 bytes: kept whole
        {"x-y-12345678901234567890", "1234567890123456"},   // 20 bytes: cut to 16
    };
    for (const auto& c : cases)
        EXPECT_EQ(tagFor(QString::fromUtf8(c.caption)), c.tag) << c.caption;
}

TEST_F(ErrMsgTest, WindowTagCountsGbkBytes)
{
    // 20 bytes in GBK although only 13 characters.
    EXPECT_EQ(tagFor(QStringLiteral("【Tavelo】模拟考勤机")), "None Active Window");
    EXPECT_EQ(tagFor(QStringLiteral("考勤管理-记录")), "None Active Window"); // 13 bytes
    EXPECT_EQ(tagFor(QStringLiteral("考勤管理系统-员工记录")), Gbk::encode(QStringLiteral("员工记录")));

    // The cut counts bytes and may end inside a double-byte character.
    const QByteArray tail = Gbk::encode(QStringLiteral("x考勤考勤考勤考勤考勤"));
    ASSERT_EQ(tail.size(), 21);
    EXPECT_EQ(tagFor(QStringLiteral("a-b-x考勤考勤考勤考勤考勤")), tail.left(16));
}

TEST_F(ErrMsgTest, WindowTagSeesOnlyTheFirst254BytesOfTheCaption)
{
    EXPECT_EQ(tagFor(QString(254, u'x') + QStringLiteral("-tail")), "None Active Window");
    EXPECT_EQ(tagFor(QString(253, u'x') + QStringLiteral("-tail")), "");
}

TEST_F(ErrMsgTest, CategoryTestsKindsInOrder)
{
    EXPECT_EQ(ErrMsg::ErrorCategory(ConversionError("x")), "DataType Error");
    EXPECT_EQ(ErrMsg::ErrorCategory(QueryStateError("x")), "Database Error");
    EXPECT_EQ(ErrMsg::ErrorCategory(QueryParameterError("x")), "Database Error");
    EXPECT_EQ(ErrMsg::ErrorCategory(DatabaseError("x")), "System Error");
    EXPECT_EQ(ErrMsg::ErrorCategory(FileError("x", 5)), "System Error");
    EXPECT_EQ(ErrMsg::ErrorCategory(Exception("x")), "System Error");
}

TEST_F(ErrMsgTest, LineLayoutIsFixedWidthInBytes)
{
    const QByteArray line = ErrMsg::FormatErrorLine(QStringLiteral("SELECT * FROM employ"),
                                                    DatabaseError(QStringLiteral("找不到文件")));
    const QByteArray expected = timeText() + " " + "System Error    " + "None Active Window  " +
                                "EOleException   " + Gbk::encode(QStringLiteral("找不到文件")) +
                                " << SELECT * FROM employ >>";
    EXPECT_EQ(line, expected);

    // Positions hold whatever the category and tag, also with double-byte tags.
    m_window.caption = QStringLiteral("考勤管理系统-员工记录");
    ErrMsgForm::instance().setActiveWindowSource(&m_window);
    const QByteArray withTag = ErrMsg::FormatErrorLine(QStringLiteral("q"), QueryParameterError(QStringLiteral("m")));
    EXPECT_EQ(withTag.mid(0, 17), timeText() + " ");
    EXPECT_EQ(withTag.mid(17, 16), "Database Error  ");
    EXPECT_EQ(withTag.mid(33, 20), Gbk::encode(QStringLiteral("员工记录")) + QByteArray(12, ' '));
    EXPECT_EQ(withTag.mid(53), "EADOError       m << q >>");
}

TEST_F(ErrMsgTest, TypeNameIsPaddedButNeverCut)
{
    auto fromByte54 = [](const Exception& e) {
        return ErrMsg::FormatErrorLine(QStringLiteral("s"), e).mid(53);
    };
    EXPECT_EQ(fromByte54(NamedError("EFifteenBytesXX", "msg")), "EFifteenBytesXX msg << s >>");
    EXPECT_EQ(fromByte54(NamedError("ESixteenBytesXXX", "msg")), "ESixteenBytesXXXmsg << s >>");
    EXPECT_EQ(fromByte54(NamedError("EAVeryLongCustomErrorKind", "msg")),
              "EAVeryLongCustomErrorKindmsg << s >>");
    EXPECT_EQ(fromByte54(ConversionError(QString())), "EConvertError    << s >>");
}

TEST_F(ErrMsgTest, MessageAndStatementAreWrittenUnchanged)
{
    const QByteArray line = ErrMsg::FormatErrorLine(QStringLiteral("SELECT '<<'\r\nFROM x "),
                                                    DatabaseError(QStringLiteral(" a\nb ")));
    EXPECT_TRUE(line.endsWith("EOleException    a\nb  << SELECT '<<'\r\nFROM x  >>"));
}

TEST_F(ErrMsgTest, FirstLineCreatesTheFile)
{
    const QString log = path("error.log");
    ErrMsg::AppendLogLine(log, "first");
    EXPECT_EQ(fileBytes(log), "first\r\n");
    ErrMsg::AppendLogLine(log, Gbk::encode(QStringLiteral("第二")));
    EXPECT_EQ(fileBytes(log), "first\r\n" + Gbk::encode(QStringLiteral("第二")) + "\r\n");
}

TEST_F(ErrMsgTest, EndOfFileMarkInTheLast128BytesIsReplaced)
{
    const QString log = path("error.log");
    writeFile(log, "old\r\n\x1a");
    ErrMsg::AppendLogLine(log, "new");
    EXPECT_EQ(fileBytes(log), "old\r\nnew\r\n");

    // The first mark within the window wins and everything after it goes.
    const QByteArray head(100, 'a');
    writeFile(log, head + "\x1a" + QByteArray(50, 'b') + "\x1a" + "c");
    ErrMsg::AppendLogLine(log, "new");
    EXPECT_EQ(fileBytes(log), head + "new\r\n");
}

TEST_F(ErrMsgTest, EndOfFileMarkBeforeTheLast128BytesStays)
{
    const QString log = path("error.log");
    const QByteArray content = QByteArray("x\x1a") + QByteArray(128, 'y');
    writeFile(log, content);
    ErrMsg::AppendLogLine(log, "new");
    EXPECT_EQ(fileBytes(log), content + "new\r\n");

    // One byte later the mark is inside the window.
    const QByteArray inside = QByteArray("\x1a") + QByteArray(127, 'y');
    writeFile(log, "x" + inside);
    ErrMsg::AppendLogLine(log, "new");
    EXPECT_EQ(fileBytes(log), "xnew\r\n");
}

TEST_F(ErrMsgTest, FolderAsLogPathIsAnIoErrorAndCreatesNothing)
{
    const QString folder = path("logs");
    ASSERT_TRUE(QDir().mkdir(folder));
    try {
        ErrMsg::AppendLogLine(folder, "line");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.errorCode(), EISDIR);
    }
    EXPECT_TRUE(QDir(folder).isEmpty());
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"logs"});
}

TEST_F(ErrMsgTest, MissingFolderIsAnIoError)
{
    try {
        ErrMsg::AppendLogLine(path("no/such/error.log"), "line");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.errorCode(), ENOENT);
    }
}

TEST_F(ErrMsgTest, FolderWithoutWritePermissionIsReportedAsSuch)
{
    const QString folder = path("readonly");
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_EQ(chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    const QString log = folder + QStringLiteral("/error.log");
    const std::string reported = TestSupport::asUnprivilegedUser([&]() -> std::string {
        try {
            ErrMsg::AppendLogLine(log, "line");
            return "no error";
        } catch (const FileError& e) {
            return std::to_string(e.errorCode()) + " " + e.message().toStdString();
        }
    });
    EXPECT_EQ(reported, std::to_string(EACCES) + " I/O error " + std::to_string(EACCES) + " (" +
                            std::strerror(EACCES) + ")");
    EXPECT_FALSE(QFileInfo::exists(log));
    chmod(QFile::encodeName(folder).constData(), 0755);
}

TEST_F(ErrMsgTest, SecondWriterFindsTheFileLocked)
{
    const QString log = path("error.log");
    writeFile(log, "held\r\n");
    const int other = ::open(QFile::encodeName(log).constData(), O_RDWR);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);

    try {
        ErrMsg::AppendLogLine(log, "lost");
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.errorCode(), EWOULDBLOCK);
    }
    EXPECT_EQ(fileBytes(log), "held\r\n");

    // Readers are not in the way, and the lock is gone with the other writer.
    ::close(other);
    QFile reader(log);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    ErrMsg::AppendLogLine(log, "kept");
    EXPECT_EQ(fileBytes(log), "held\r\nkept\r\n");
}

TEST_F(ErrMsgTest, LogFileIsNotHeldOpenBetweenLines)
{
    const QString log = path("error.log");
    ErrMsg::AppendLogLine(log, "one");
    // Free for another writer at once.
    const int other = ::open(QFile::encodeName(log).constData(), O_RDWR);
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
}

TEST(ErrMsgFormTest, DefaultLogIsPerUserStateFile)
{
    const QString path = ErrMsgForm::instance().logFileName();
    EXPECT_TRUE(path.endsWith(QStringLiteral("/tavelo/error.log"))) << path.toStdString();
    EXPECT_TRUE(QDir::isAbsolutePath(path));
}

TEST(ErrMsgFormTest, LogFollowsXdgStateHome)
{
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/var/state-test");
    EXPECT_EQ(AppPaths::defaultLogFilePath(), QStringLiteral("/var/state-test/tavelo/error.log"));
    // Relative or empty values are not to be used.
    for (const char* value : {"relative/state", ""}) {
        qputenv("XDG_STATE_HOME", value);
        EXPECT_EQ(AppPaths::defaultLogFilePath(),
                  QDir::homePath() + QStringLiteral("/.local/state/tavelo/error.log"));
    }
    if (saved.isNull())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", saved);
}

TEST(ErrMsgFormTest, LogFolderIsCreatedOnRequest)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ErrMsgForm& form = ErrMsgForm::instance();
    const QString saved = form.logFileName();
    form.setLogFileName(dir.filePath(QStringLiteral("state/tavelo/error.log")));
    EXPECT_TRUE(form.createLogFolder());
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("state/tavelo"))).isDir());
    EXPECT_FALSE(QFile::exists(form.logFileName()));
    form.setLogFileName(saved);
}

} // namespace
