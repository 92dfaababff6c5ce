// One set of rules for what may enter a column, whichever import brings a value and
// whichever target takes it: an Access file and a CSV list, into a new file and into a
// throwaway PostgreSQL server, read back behind the tool's back. And an import stopped by
// SIGINT or SIGTERM leaves nothing behind: no new file, no journal, the target as it was.

#include "support/AccessFixtures.h"
#include "support/AccessPageEditor.h"
#include "support/PgTestServer.h"
#include "support/SqliteFile.h"
#include "support/TestSupport.h"
#include "support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <string>

namespace {

using TestSupport::AccessPageEditor;
using TestSupport::fileBytes;
using TestSupport::runKqdb;
using TestSupport::SqliteFile;
using TestSupport::ToolRun;
using TestSupport::writeFile;

std::string text(const ToolRun& run)
{
    return "exit " + std::to_string(run.exitCode) + "\nstdout: " + run.out.toStdString() +
           "\nstderr: " + run.err.toStdString();
}

QString kq2000()
{
    return TestSupport::AccessFixtures::path(QStringLiteral("kq2000.mdb"));
}

// kq2000.mdb with the texts of one row replaced, as a later edit leaves them (the row moved
// to a new page of its table): employ's row 2 (definition on page 24, rows on page 26;
// texts num, name, dept_no) or sgdjb's row 6 (definition 28, rows 30; texts num, name).
QByteArray withRowTexts(bool employ, const QList<std::optional<QString>>& texts)
{
    AccessPageEditor file(fileBytes(kq2000()));
    const int table = employ ? 24 : 28;
    const int page = employ ? 26 : 30;
    const int slot = employ ? 1 : 5;
    file.moveRow(page, slot, AccessPageEditor::withTexts(file.row(page, slot), texts),
                 file.addDataPage(table));
    return file.bytes();
}

QByteArray employeeTwo(const QString& num, const QString& name)
{
    return withRowTexts(true, {num, name, QStringLiteral("01")});
}

QByteArray recordSix(const QString& num, const QString& name)
{
    return withRowTexts(false, {num, name});
}

// One throwaway server for the suite, a new database with the schema per target.
class ImportRulesTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_server = new PgTestServer(); }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QString newServerDatabase()
    {
        const QString db = QStringLiteral("rules%1").arg(++s_databases);
        s_server->createDatabase(db);
        const QString target = s_server->conninfo(db);
        const ToolRun run = runKqdb({QStringLiteral("create"), target});
        EXPECT_EQ(run.exitCode, 0) << text(run);
        m_serverDb = db;
        return target;
    }
    QString serverCounts() const
    {
        return s_server->psql(
            QStringLiteral("SELECT (SELECT count(*) FROM employ) || ' ' || (SELECT count(*) FROM sgdjb)"),
            m_serverDb);
    }

    // Imports the Access bytes into a new file and into a new server database. Both must
    // end alike: refused with the same message and nothing written, or imported.
    struct Outcome
    {
        ToolRun file;
        ToolRun server;
        QString fileTarget;
        QString serverCounts;
    };
    Outcome importBoth(const QByteArray& source)
    {
        const QString mdb = path(QStringLiteral("source%1.mdb").arg(++m_sources));
        writeFile(mdb, source);
        Outcome outcome;
        outcome.fileTarget = path(QStringLiteral("target%1.sqlite").arg(m_sources));
        outcome.file = runKqdb({QStringLiteral("import-mdb"), mdb, outcome.fileTarget}, 120000);
        outcome.server = runKqdb({QStringLiteral("import-mdb"), mdb, newServerDatabase()}, 120000);
        outcome.serverCounts = serverCounts();
        return outcome;
    }

    void expectRefusedAlike(const QByteArray& source, const QString& says)
    {
        const Outcome outcome = importBoth(source);
        EXPECT_EQ(outcome.file.exitCode, 1) << text(outcome.file);
        EXPECT_EQ(outcome.server.exitCode, 1) << text(outcome.server);
        EXPECT_EQ(QString::fromUtf8(outcome.file.err),
                  QStringLiteral("kqdb: ") + says + QStringLiteral("; nothing imported\n"))
            << text(outcome.file);
        // The server's message names the same row and column; only the declared type is
        // the server's own.
        QString fromServer = QString::fromUtf8(outcome.server.err);
        fromServer.replace(QStringLiteral("character varying("), QStringLiteral("VARCHAR("));
        EXPECT_EQ(fromServer, QString::fromUtf8(outcome.file.err)) << text(outcome.server);
        EXPECT_FALSE(QFileInfo::exists(outcome.fileTarget));
        EXPECT_FALSE(QFileInfo::exists(outcome.fileTarget + QStringLiteral("-journal")));
        EXPECT_EQ(outcome.serverCounts, QStringLiteral("0 0"));
        // Nothing raw reaches the terminal that shows the message.
        for (const QByteArray& err : {outcome.file.err, outcome.server.err})
            EXPECT_FALSE(err.contains('\0') || err.contains('\x1b') || err.count('\n') != 1)
                << err.constData();
    }

    static PgTestServer* s_server;
    static int s_databases;
    QTemporaryDir m_dir;
    QString m_serverDb;
    int m_sources = 0;
};

PgTestServer* ImportRulesTest::s_server = nullptr;
int ImportRulesTest::s_databases = 0;

TEST_F(ImportRulesTest, ANulInsideAnAccessNameIsRefusedByFileAndServerAlikeNamingTableRowAndColumn)
{
    // Before, a file took the name whole and a server cut it at the NUL.
    expectRefusedAlike(
        employeeTwo(QStringLiteral("0101"), QStringLiteral("张") + QChar(0) + QStringLiteral("三")),
        QStringLiteral("employ row 2, column name \"张\\x00三\" holds the control character U+0000 at "
                       "character 2"));
    expectRefusedAlike(
        recordSix(QStringLiteral("0202"), QStringLiteral("O'Neil") + QChar(0)),
        QStringLiteral("sgdjb row 6, column name \"O'Neil\\x00\" holds the control character U+0000 "
                       "at character 7"));
}

TEST_F(ImportRulesTest, OtherControlsAndUntypeableNumbersAreRefusedFromAccessAsFromCsv)
{
    expectRefusedAlike(
        recordSix(QStringLiteral("0202"), QStringLiteral("two\nlines")),
        QStringLiteral("sgdjb row 6, column name \"two\\x0Alines\" holds the control character "
                       "U+000A at character 4"));
    expectRefusedAlike(
        employeeTwo(QStringLiteral("0101"), QStringLiteral("\x1b[2Jwiped")),
        QStringLiteral("employ row 2, column name \"\\x1B[2Jwiped\" holds the control character "
                       "U+001B at character 1"));
    expectRefusedAlike(employeeTwo(QStringLiteral("0101 "), QStringLiteral("张三")),
                       QStringLiteral("employ row 2, column num \"0101 \" has blanks before or after it"));
    expectRefusedAlike(
        employeeTwo(QStringLiteral("01 01"), QStringLiteral("张三")),
        QStringLiteral("employ row 2, column num \"01 01\" holds \" \" (U+0020) at character 3; a "
                       "number is ASCII letters and digits, or punctuation such as \"-\", as the "
                       "number box types them"));
    expectRefusedAlike(
        recordSix(QStringLiteral("０２０２"), QStringLiteral("O'Neil")),
        QStringLiteral("sgdjb row 6, column num \"０２０２\" holds \"０\" (U+FF10) at character 1; a "
                       "number is ASCII letters and digits, or punctuation such as \"-\", as the "
                       "number box types them"));

    // The CSV import says the same of the same values.
    const QString target = path(QStringLiteral("list.sqlite"));
    ASSERT_EQ(runKqdb({QStringLiteral("create"), target}).exitCode, 0);
    const QString csv = path(QStringLiteral("staff.csv"));
    writeFile(csv, QByteArray("num,name\n0101,ok\n01 01,\xe5\xbc\xa0\xe4\xb8\x89\n"));
    const ToolRun run = runKqdb({QStringLiteral("import-employees"), target, csv});
    EXPECT_EQ(run.exitCode, 1) << text(run);
    EXPECT_TRUE(
        run.err.contains(":3: employ row 2, column num \"01 01\" holds \" \" (U+0020) at character 3"))
        << text(run);
}

TEST_F(ImportRulesTest, WidthsCountGbkBytesInBothImportsAndBothTargets)
{
    // Ten Chinese characters fill a name's 20 bytes, as they fill the list's column: taken
    // by a file and by a server.
    const QString ten = QStringLiteral("一二三四五六七八九十");
    Outcome fits = importBoth(employeeTwo(QStringLiteral("0101"), ten));
    ASSERT_EQ(fits.file.exitCode, 0) << text(fits.file);
    ASSERT_EQ(fits.server.exitCode, 0) << text(fits.server);
    EXPECT_EQ(SqliteFile(fits.fileTarget, SqliteFile::Mode::ReadOnly)
                  .text(QStringLiteral("SELECT name FROM employ WHERE num = '0101'")),
              ten);
    EXPECT_EQ(s_server->psql(QStringLiteral("SELECT name FROM employ WHERE num = '0101'"), m_serverDb), ten);

    // Eleven are 22 bytes: refused by both, although the server's varchar(20) counts
    // characters and would take them.
    expectRefusedAlike(
        employeeTwo(QStringLiteral("0101"), ten + QStringLiteral("一")),
        QStringLiteral("employ row 2, column name \"一二三四五六七八九十一\" is 22 bytes long in GBK; "
                       "the column holds 20 (VARCHAR(20))"));
    // Latin letters count one byte each.
    expectRefusedAlike(
        recordSix(QStringLiteral("0202"), QStringLiteral("O'Neil, Patricia Anne")),
        QStringLiteral("sgdjb row 6, column name \"O'Neil, Patricia Anne\" is 21 bytes long in "
                       "GBK; the column holds 20 (VARCHAR(20))"));

    // The CSV list, into a file and into a server: the same ten fit, the same eleven do not.
    const QString fileTarget = path(QStringLiteral("list.sqlite"));
    ASSERT_EQ(runKqdb({QStringLiteral("create"), fileTarget}).exitCode, 0);
    const QString serverTarget = newServerDatabase();
    for (const QString& target : {fileTarget, serverTarget}) {
        SCOPED_TRACE(target.toStdString());
        const QString csv = path(QStringLiteral("staff.csv"));
        writeFile(csv, QStringLiteral("num,name\nA-07,%1一\n").arg(ten).toUtf8());
        ToolRun run = runKqdb({QStringLiteral("import-employees"), target, csv});
        EXPECT_EQ(run.exitCode, 1) << text(run);
        EXPECT_TRUE(QString::fromUtf8(run.err).contains(
            QStringLiteral(
                ":2: employ row 1, column name \"%1一\" is 22 bytes long in GBK; the column holds 20")
                .arg(ten)))
            << text(run);
        // A number with a hyphen, as Access lists hold them, is taken from a CSV list too.
        writeFile(csv, QStringLiteral("num,name\nA-07,%1\n").arg(ten).toUtf8());
        run = runKqdb({QStringLiteral("import-employees"), target, csv});
        EXPECT_EQ(run.exitCode, 0) << text(run);
    }
    EXPECT_EQ(SqliteFile(fileTarget, SqliteFile::Mode::ReadOnly)
                  .text(QStringLiteral("SELECT name FROM employ WHERE num = 'A-07'")),
              ten);
    EXPECT_EQ(s_server->psql(QStringLiteral("SELECT name FROM employ WHERE num = 'A-07'"), m_serverDb), ten);
}

// Starts kqdb with the arguments, waits until it writes (a journal, or a write-ahead log,
// beside the file), and sends it the signal. Returns what it left behind.
struct Stopped
{
    bool sawJournal = false;
    QProcess::ExitStatus status = QProcess::NormalExit;
    int exitCode = -1;
    QByteArray err;
};

Stopped stopMidway(const QStringList& args, const QString& file, int signal)
{
    Stopped stopped;
    // A write-ahead log may be there from before: writing shows as its growth.
    const QString wal = file + QStringLiteral("-wal");
    const qint64 walBefore = QFileInfo(wal).exists() ? QFileInfo(wal).size() : -1;
    QProcess kqdb;
    kqdb.start(QStringLiteral(TAVELO_BIN_DIR "/kqdb"), args);
    if (!kqdb.waitForStarted(10000))
        return stopped;
    stopped.sawJournal = TestSupport::waitUntil(
        [&] {
            const QFileInfo log(wal);
            return QFileInfo::exists(file + QStringLiteral("-journal")) ||
                   (log.exists() && log.size() != walBefore && log.size() > 0);
        },
        60000, 5);
    ::kill(pid_t(kqdb.processId()), signal);
    if (!kqdb.waitForFinished(60000)) {
        kqdb.kill();
        kqdb.waitForFinished();
    }
    stopped.status = kqdb.exitStatus();
    stopped.exitCode = kqdb.exitCode();
    stopped.err = kqdb.readAllStandardError();
    return stopped;
}

TEST_F(ImportRulesTest, AnInterruptedAccessImportLeavesNoNewFileAndNoJournal)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const QString target = path(QStringLiteral("big%1.sqlite").arg(signal));
        const Stopped stopped = stopMidway(
            {QStringLiteral("import-mdb"), TestSupport::AccessFixtures::bigFile(), target}, target, signal);
        ASSERT_TRUE(stopped.sawJournal) << "the import never started writing";
        // Ended by the signal, as the shell expects of Ctrl+C, after saying so.
        EXPECT_EQ(stopped.status, QProcess::CrashExit) << stopped.err.constData();
        EXPECT_TRUE(stopped.err.contains(signal == SIGINT
                                             ? "kqdb: interrupted (SIGINT); nothing imported\n"
                                             : "kqdb: interrupted (SIGTERM); nothing imported\n"))
            << stopped.err.constData();
        EXPECT_FALSE(QFileInfo::exists(target));
        // No journal, no write-ahead log: nothing of the file at all.
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).filter(QStringLiteral("big")), QStringList{});
    }
}

TEST_F(ImportRulesTest, AnInterruptedImportIntoAnExistingFileLeavesItAsItWas)
{
    const QString target = path(QStringLiteral("kq.sqlite"));
    ASSERT_EQ(runKqdb({QStringLiteral("create"), target, QStringLiteral("--employees"), QStringLiteral("3")})
                  .exitCode,
              0);
    const QByteArray before = fileBytes(target);

    // An employee list long enough to be stopped while it is written row by row.
    QByteArray csv("num,name\n");
    for (int i = 0; i < 400000; ++i)
        csv += "E" + QByteArray::number(i) + ",name " + QByteArray::number(i) + "\n";
    const QString list = path(QStringLiteral("staff.csv"));
    writeFile(list, csv);
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const Stopped stopped =
            stopMidway({QStringLiteral("import-employees"), target, list}, target, signal);
        ASSERT_TRUE(stopped.sawJournal) << "the import never started writing";
        EXPECT_EQ(stopped.status, QProcess::CrashExit) << stopped.err.constData();
        EXPECT_TRUE(stopped.err.contains("interrupted (")) << stopped.err.constData();
        EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("-journal")));
        EXPECT_EQ(fileBytes(target), before);
    }

    // The same into an existing file from Access: the file keeps what it had.
    const Stopped stopped = stopMidway(
        {QStringLiteral("import-mdb"), TestSupport::AccessFixtures::bigFile(), target}, target, SIGINT);
    ASSERT_TRUE(stopped.sawJournal);
    EXPECT_EQ(stopped.status, QProcess::CrashExit) << stopped.err.constData();
    EXPECT_TRUE(QFileInfo::exists(target));
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("-journal")));
    EXPECT_EQ(fileBytes(target), before);
}

TEST_F(ImportRulesTest, SkipExistingAsksTheTargetBatchByBatchAndStillAddsNothingTwice)
{
    // The big file twice into one file: the second run finds every row, across batches,
    // among records the first run wrote far apart.
    const QString target = path(QStringLiteral("big.sqlite"));
    ToolRun run =
        runKqdb({QStringLiteral("import-mdb"), TestSupport::AccessFixtures::bigFile(), target}, 300000);
    ASSERT_EQ(run.exitCode, 0) << text(run);
    // One imported record gone again: the second run brings back that one only.
    const SqliteFile db(target);
    db.exec(QStringLiteral("DELETE FROM sgdjb WHERE rowid = (SELECT max(rowid) FROM sgdjb)"));
    run = runKqdb({QStringLiteral("import-mdb"), TestSupport::AccessFixtures::bigFile(), target,
                   QStringLiteral("--skip-existing")},
                  300000);
    ASSERT_EQ(run.exitCode, 0) << text(run);
    EXPECT_EQ(run.out.toStdString(), "employees: 20000 read, 0 written, 20000 skipped as already there\n"
                                     "attendance records: 200000 read, 1 written, 199999 skipped as already "
                                     "there\n");
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 200000);
}

} // namespace
