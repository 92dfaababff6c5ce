#include "interchange/DevSchema.h"
#include "log/ErrMsgForm.h"
#include "platform/AppSettings.h"
#include "platform/FileError.h"
#include "platform/SettingsStore.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "support/ManualClock.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString kGroup = QStringLiteral("Software/Microsoft/Windows/CurrentVersion/Kelvaro");

using TestSupport::fileBytes;

// Points the per-user store at a fresh folder for each test.
class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        // No machine-wide settings behind the user's.
        qputenv("XDG_CONFIG_DIRS", m_dir.filePath(QStringLiteral("system")).toUtf8());
        m_store = SettingsStore::userStorePath();
        ASSERT_TRUE(m_store.startsWith(m_dir.path()));
    }

    void writeStore(const QByteArray& text)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(m_store).absolutePath()));
        QFile file(m_store);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    QString fallback() const { return AppSettings::GetAppDir() + QStringLiteral("mdb"); }

    QTemporaryDir m_dir;
    QString m_store;
};

TEST_F(SettingsTest, MissingKeyIsCreatedAndFallsBackBesideTheExecutable)
{
    EXPECT_EQ(AppSettings::ReadAppRegString(QStringLiteral("mdb")), QString());
    EXPECT_EQ(fileBytes(m_store), "[" + kGroup.toUtf8() + "]\n");
    EXPECT_EQ(AppSettings::GetMdbDir(), fallback());

    // Created once: a second read finds the key and adds nothing.
    EXPECT_EQ(AppSettings::GetMdbDir(), fallback());
    EXPECT_EQ(fileBytes(m_store), "[" + kGroup.toUtf8() + "]\n");
}

TEST_F(SettingsTest, KeyIsAddedToAnExistingStoreWithoutDisturbingIt)
{
    writeStore("[Other]\nfolder=/srv/other");
    EXPECT_EQ(AppSettings::GetMdbDir(), fallback());
    const QSettings check(m_store, QSettings::IniFormat);
    EXPECT_EQ(check.value(QStringLiteral("Other/folder")).toString(), QStringLiteral("/srv/other"));
    EXPECT_TRUE(fileBytes(m_store).endsWith("/srv/other\n[" + kGroup.toUtf8() + "]\n"));
}

TEST_F(SettingsTest, StringValueIsTrimmedOfBlanksAndControlCharacters)
{
    writeStore("[" + kGroup.toUtf8() + "]\nmdb=\" \\t/data/att/ \\r\"\n");
    EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/data/att/"));

    // Inner blanks, and wide blanks that are no control characters, stay.
    writeStore("[" + kGroup.toUtf8() + "]\nmdb=\"/data/考勤 数据\xe3\x80\x80\"\n");
    EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/data/考勤 数据\u3000"));
}

TEST_F(SettingsTest, ValueWrittenThroughQSettingsIsFound)
{
    {
        QSettings settings(m_store, QSettings::IniFormat);
        settings.setValue(kGroup + QStringLiteral("/mdb"), QStringLiteral("/srv/kq"));
    }
    EXPECT_EQ(AppSettings::GetMdbDir(), QStringLiteral("/srv/kq"));
}

TEST_F(SettingsTest, BlankOrNonStringValuesFallBack)
{
    const QByteArray header = "[" + kGroup.toUtf8() + "]\n";
    const QByteArray values[] = {
        "mdb=\"   \"\n",                           // blanks only
        "mdb=\n",                                  // empty
        "mdb=@Variant(\\0\\0\\0\\x2\\0\\0\\0*)\n", // a number
        "other=/srv/kq\n",                         // no such value
    };
    for (const QByteArray& value : values) {
        writeStore(header + value);
        EXPECT_EQ(AppSettings::GetMdbDir(), fallback()) << value.constData();
    }
}

TEST_F(SettingsTest, UnusableStoreFallsBack)
{
    ASSERT_TRUE(QDir().mkpath(m_store)); // a folder where the file belongs
    EXPECT_EQ(AppSettings::ReadAppRegString(QStringLiteral("mdb")), QString());
    EXPECT_EQ(AppSettings::GetMdbDir(), fallback());
}

TEST(CommFuncTest, AppDirIsTheExecutablesFolderWithSeparator)
{
    const QString dir = AppSettings::GetAppDir();
    EXPECT_TRUE(dir.endsWith(u'/'));
    EXPECT_EQ(QFileInfo(dir).canonicalFilePath(),
              QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).canonicalPath());
}

TEST(CommFuncTest, ConnectionStringQuotesOnlyPathsThatNeedIt)
{
    const struct
    {
        QString path;
        QString source;
    } cases[] = {
        {QStringLiteral("/data/att//kq.mdb"), QStringLiteral("/data/att//kq.mdb")},
        {QStringLiteral("C:\\Att\\mdb\\kq.mdb"), QStringLiteral("C:\\Att\\mdb\\kq.mdb")},
        {QStringLiteral("/data/考勤 数据/kq.mdb"), QStringLiteral("/data/考勤 数据/kq.mdb")},
        {QString(), QString()},
        {QStringLiteral("/a;Mode=Read/kq.mdb"), QStringLiteral("\"/a;Mode=Read/kq.mdb\"")},
        {QStringLiteral("/a\"b/kq.mdb"), QStringLiteral("\"/a\"\"b/kq.mdb\"")},
        {QStringLiteral(" /a/kq.mdb"), QStringLiteral("\" /a/kq.mdb\"")},
        {QStringLiteral("/a/kq.mdb\t"), QStringLiteral("\"/a/kq.mdb\t\"")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CommFunc::MakeJetConnStr(c.path), TestSupport::jetConnectionString(c.source))
            << c.path.toStdString();
}

// The settings take effect at the next open, which only a query causes: an open
// connection is closed first, the file named is the one opened, and for writing even when
// the connection was set to read before.
TEST(CommFuncTest, ConnectionIsReconfiguredForTheFileAndOpensForWritingOnDemand)
{
    EXPECT_FALSE(CommFunc::OpenDbConnection(nullptr, QStringLiteral("/x/kq.mdb")));

    TestSupport::DevDatabase first;
    TestSupport::DevDatabase second;
    AdoConnection connection;
    connection.setConnectionString(first.connectionString());
    connection.setMode(AdoConnection::Mode::Read);
    connection.open();
    ASSERT_TRUE(connection.connected());

    EXPECT_TRUE(CommFunc::OpenDbConnection(&connection, second.path()));
    EXPECT_FALSE(connection.connected());
    AdoQuery insert(QStringLiteral("RecordQry"));
    insert.setConnection(&connection);
    insert.sqlAdd(QStringLiteral("INSERT INTO employ VALUES ('0101', 'A', '01')"));
    insert.execSql();
    EXPECT_EQ(second.scalar(QStringLiteral("SELECT count(*) FROM employ")), 1);
    EXPECT_EQ(first.scalar(QStringLiteral("SELECT count(*) FROM employ")), 0);
}

// A development database, the connection and the employee query, with the error log in
// the same temporary folder.
class TableQueryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_savedLog = ErrMsgForm::instance().logFileName();
        ErrMsgForm::instance().setLogFileName(m_dir.filePath(QStringLiteral("error.log")));
        ErrMsgForm::instance().setClock(&m_clock);
        m_query.setConnection(&m_connection);
    }
    void TearDown() override
    {
        m_query.close();
        ErrMsgForm::instance().setLogFileName(m_savedLog);
        ErrMsgForm::instance().setClock(nullptr);
    }

    void openDatabase(const QList<DevSchema::Employee>& employees)
    {
        const QString path = m_dir.filePath(QStringLiteral("kq.mdb"));
        QString error;
        ASSERT_TRUE(DevSchema::createDatabase(path, employees, &error)) << error.toStdString();
        ASSERT_TRUE(CommFunc::OpenDbConnection(&m_connection, path));
    }

    // The statement as the query holds it, without the line end of its single line.
    QString statement() const
    {
        QString text = m_query.sqlText();
        if (text.endsWith(u'\n'))
            text.chop(1);
        if (text.endsWith(u'\r'))
            text.chop(1);
        return text;
    }

    QList<QByteArray> logLines() const
    {
        QList<QByteArray> lines = fileBytes(ErrMsgForm::instance().logFileName()).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    QTemporaryDir m_dir;
    QString m_savedLog;
    ManualClock m_clock;
    AdoConnection m_connection;
    AdoQuery m_query{QStringLiteral("YgQry")};
};

TEST_F(TableQueryTest, LoadsTheWholeTable)
{
    openDatabase(DevSchema::demoEmployees());
    EXPECT_EQ(CommFunc::OpenTableQuery(&m_query, QStringLiteral("employ"), QString(), QString()), 36);
    EXPECT_EQ(statement(), QStringLiteral("SELECT * FROM employ"));
    EXPECT_TRUE(m_query.isOpen());
    EXPECT_EQ(m_query.recNo(), 0);
    EXPECT_FALSE(QFile::exists(ErrMsgForm::instance().logFileName()));
}

TEST_F(TableQueryTest, FilterThenOrderingAreAppendedUntrimmed)
{
    openDatabase(DevSchema::demoEmployees());
    EXPECT_EQ(CommFunc::OpenTableQuery(&m_query, QStringLiteral("employ"), QStringLiteral("num"),
                                       QStringLiteral("dept_no='01'")),
              9);
    EXPECT_EQ(statement(), QStringLiteral("SELECT * FROM employ WHERE dept_no='01' ORDER BY num"));

    EXPECT_EQ(CommFunc::OpenTableQuery(&m_query, QStringLiteral("employ"), QStringLiteral(" num DESC "),
                                       QStringLiteral(" dept_no='02' ")),
              9);
    EXPECT_EQ(statement(), QStringLiteral("SELECT * FROM employ WHERE  dept_no='02'  ORDER BY  num DESC "));
    EXPECT_EQ(m_query.fieldAsString(QStringLiteral("num")), QStringLiteral("0209"));
}

TEST_F(TableQueryTest, BlankFilterAndOrderingAddNothingAndAnEmptyTableGivesZero)
{
    openDatabase({});
    EXPECT_EQ(CommFunc::OpenTableQuery(&m_query, QStringLiteral("employ"), QStringLiteral(" \t "),
                                       QStringLiteral("   ")),
              0);
    EXPECT_EQ(statement(), QStringLiteral("SELECT * FROM employ"));
    EXPECT_TRUE(m_query.isOpen());
}

TEST_F(TableQueryTest, MissingDatabaseLogsOneLineAndCloses)
{
    m_clock.set(QDate(2026, 3, 5), QTime(8, 7));
    ASSERT_TRUE(CommFunc::OpenDbConnection(&m_connection, m_dir.filePath(QStringLiteral("none/kq.mdb"))));
    EXPECT_EQ(CommFunc::OpenTableQuery(&m_query, QStringLiteral("employ"), QString(), QString()), -1);
    EXPECT_FALSE(m_query.isOpen());

    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    const QByteArray& line = lines.first();
    EXPECT_TRUE(line.startsWith("2026-03-05 08")) << line.constData();
    EXPECT_EQ(line.mid(17, 16), "System Error    ");
    EXPECT_EQ(line.mid(33, 20), "None Active Window  ");
    EXPECT_EQ(line.mid(53, 16), "EOleException   ");
    EXPECT_TRUE(line.endsWith(" << SELECT * FROM employ >>\r")) << line.constData();
}

// A database the user may not write fails to open as a missing one does: one line naming
// the file and nothing loaded, rather than a list on which every swipe fails unseen.
TEST_F(TableQueryTest, UnwritableDatabaseLogsOneLineNamingTheFileAndLoadsNothing)
{
    openDatabase(DevSchema::demoEmployees());
    const QString path = m_dir.filePath(QStringLiteral("kq.mdb"));
    // The log goes here; sticky, as a folder everyone may write to must be for its database
    // to be trusted.
    ASSERT_EQ(chmod(QFile::encodeName(m_dir.path()).constData(), 01777), 0);
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0444), 0);
    const std::string outcome = TestSupport::asUnprivilegedUser([&] {
        const int rows = CommFunc::OpenTableQuery(&m_query, QStringLiteral("employ"), QString(), QString());
        return std::to_string(rows) + (m_query.isOpen() ? " open" : " closed");
    });
    EXPECT_EQ(outcome, "-1 closed");
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines.first().mid(17, 16), "System Error    ");
    EXPECT_TRUE(lines.first().contains("'" + path.toUtf8() + "'")) << lines.first().constData();

    // Writable again, the same connection loads the list.
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0644), 0);
    EXPECT_EQ(CommFunc::OpenTableQuery(&m_query, QStringLiteral("employ"), QString(), QString()),
              DevSchema::demoEmployees().size());
}

TEST_F(TableQueryTest, RejectedStatementIsLoggedWithTheComposedText)
{
    openDatabase(DevSchema::demoEmployees());
    EXPECT_EQ(
        CommFunc::OpenTableQuery(&m_query, QStringLiteral("no_such_table"), QString(), QStringLiteral("x=1")),
        -1);
    EXPECT_FALSE(m_query.isOpen());
    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().endsWith(" << SELECT * FROM no_such_table WHERE x=1 >>\r"));

    // The next failure appends.
    EXPECT_EQ(CommFunc::OpenTableQuery(&m_query, QStringLiteral("no_such_table"), QString(), QString()), -1);
    EXPECT_EQ(logLines().size(), 2);
}

TEST_F(TableQueryTest, LogFailurePassesOut)
{
    ErrMsgForm::instance().setLogFileName(m_dir.path()); // a folder
    ASSERT_TRUE(CommFunc::OpenDbConnection(&m_connection, m_dir.filePath(QStringLiteral("none/kq.mdb"))));
    EXPECT_THROW(CommFunc::OpenTableQuery(&m_query, QStringLiteral("employ"), QString(), QString()),
                 FileError);
}

TEST_F(TableQueryTest, NoQueryIsLoggedAsAFailure)
{
    EXPECT_EQ(CommFunc::OpenTableQuery(nullptr, QStringLiteral("employ"), QString(), QString()), -1);
    ASSERT_EQ(logLines().size(), 1);
    EXPECT_EQ(logLines().first().mid(17, 16), "Database Error  ");
}

} // namespace
