// The attendance file shared with other programs, each a real sqlite3 shell beside the
// terminal's code and kqdb: a reader left in the middle of a transaction or a backup of a
// large file holds up no swipe; a writer that holds the file makes kqdb fail in words that
// say so; a file of an earlier version switches to the write-ahead log once and reads back
// the same; a folder others may change on the way to the file is refused by name.

#include "attendance/AttendanceTerminal.h"
#include "support/ManualClock.h"
#include "support/SqliteShell.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using TestSupport::DevDatabase;
using TestSupport::SqliteShell;
using TestSupport::ToolRun;

// A swipe that waited for a reader would take the file's 5 s lock bound; one that did not
// takes a few milliseconds, or some hundreds on a loaded machine.
constexpr qint64 kSwipeBoundMs = 2000;

class SharedFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A file terminal makes its store only when the file is held; never in the home.
        qputenv("XDG_STATE_HOME", m_state.path().toUtf8());
    }

    ToolRun kqdbSwipe(const QString& num, const QString& now)
    {
        return TestSupport::runKqdb(
            {QStringLiteral("swipe"), m_db.path(), num, QStringLiteral("--now"), now});
    }

    qint64 records(const QString& where = QStringLiteral("1")) const
    {
        return m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb WHERE %1").arg(where));
    }

    // The terminal's own code for `count` swipes, the first at `first`, one employee after
    // the other, each a minute later; every swipe recorded within the bound.
    void swipeThroughTheWindowsCode(int count, const char* first, int firstEmployee)
    {
        TestSupport::TerminalQueries queries(m_db.connectionString());
        queries.load();
        ManualClock clock(TestSupport::clockAt(first));
        const auto terminal = AttendanceTerminal::forConnection(queries.connection, m_db.path(), clock);
        terminal->loadEmployees(&queries.employees);
        for (int i = 0; i < count; ++i) {
            queries.employees.setRecNo(firstEmployee + i);
            QElapsedTimer took;
            took.start();
            const SwipeOutcome outcome = terminal->swipe(&queries.employees, queries.records);
            EXPECT_LT(took.elapsed(), kSwipeBoundMs) << "window swipe " << i;
            EXPECT_EQ(outcome.kind, SwipeOutcome::Kind::Recorded) << outcome.errorMessage.toStdString();
            clock.advanceSecs(60);
        }
    }

    void swipeThroughKqdb(int count, int firstEmployee, int hour)
    {
        for (int i = 0; i < count; ++i) {
            const QString num = QStringLiteral("%1").arg(firstEmployee + i + 1, 4, 10, QChar(u'0'));
            QElapsedTimer took;
            took.start();
            const ToolRun run = kqdbSwipe(num, QStringLiteral("2026-12-07 %1:%2:00")
                                                   .arg(hour, 2, 10, QChar(u'0'))
                                                   .arg(i, 2, 10, QChar(u'0')));
            // kqdb is a process of its own: its start is part of what it takes.
            EXPECT_LT(took.elapsed(), kSwipeBoundMs + 1000) << "kqdb swipe " << i;
            EXPECT_EQ(run.exitCode, 0) << run.err.constData();
        }
    }

    QTemporaryDir m_state;
    DevDatabase m_db{20};
};

// Another program's read transaction, left open (a report, a person who walked away from a
// shell): ten swipes through the window's code and ten through kqdb, each recorded at
// once, while the reader's snapshot stays open throughout.
TEST_F(SharedFile, AReaderLeftOpenHoldsUpNoSwipe)
{
    // The file as the terminal keeps it: with its write-ahead log.
    {
        TestSupport::TerminalQueries first(m_db.connectionString());
        first.load();
    }
    ASSERT_EQ(m_db.text(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));

    SqliteShell reader(m_db.path());
    ASSERT_EQ(reader.run(QStringLiteral("BEGIN; SELECT count(*) FROM sgdjb;")), "0\n");
    swipeThroughTheWindowsCode(10, "2026-12-07 08:00:00", 0);
    swipeThroughKqdb(10, 10, 9);
    EXPECT_EQ(records(), 20);
    // The reader's transaction was open all along: it still sees the file as it began.
    EXPECT_EQ(reader.run(QStringLiteral("SELECT count(*) FROM sgdjb;")), "0\n");
    reader.run(QStringLiteral("COMMIT;"));
    EXPECT_EQ(reader.run(QStringLiteral("SELECT count(*) FROM sgdjb;")), "20\n");
}

// A backup of a file of a million records, made with the shell's .backup while swipes go
// on: none of them waits for it, and the backup is a whole database.
TEST_F(SharedFile, ABackupOfALargeFileHoldsUpNoSwipe)
{
    {
        SqliteShell filler(m_db.path());
        filler.run(
            QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) "
                "INSERT INTO sgdjb SELECT printf('%04d', i % 20 + 1), 'Worker', 946684800 - (i / 200) * "
                "86400, (i % 200) * 400, 915148800 FROM n;"),
            300000);
    }
    {
        TestSupport::TerminalQueries first(m_db.connectionString());
        first.load();
    }
    ASSERT_EQ(records(), 1000000);
    QTemporaryDir backupDir;
    const QString backup = backupDir.filePath(QStringLiteral("backup.mdb"));
    QProcess backingUp;
    backingUp.start(QStringLiteral("sqlite3"), {m_db.path(), QStringLiteral(".backup '%1'").arg(backup)});
    ASSERT_TRUE(backingUp.waitForStarted(10000));
    QElapsedTimer during;
    during.start();
    swipeThroughTheWindowsCode(5, "2026-12-07 08:00:00", 0);
    swipeThroughKqdb(5, 10, 9);
    const bool stillRunning = backingUp.state() == QProcess::Running;
    ASSERT_TRUE(backingUp.waitForFinished(240000)) << "the backup did not end";
    EXPECT_EQ(backingUp.exitCode(), 0) << backingUp.readAllStandardError().constData();
    std::printf("[ backup   ] 10 swipes in %lld ms, the backup %s running when they were done\n",
                static_cast<long long>(during.elapsed()), stillRunning ? "still" : "no longer");
    EXPECT_EQ(records(), 1000010);
    const TestSupport::SqliteFile copy(backup, TestSupport::SqliteFile::Mode::ReadOnly);
    EXPECT_EQ(copy.text(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    EXPECT_GE(copy.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 1000000);
}

// A writer holding the file past kqdb's bound: kqdb says the file is locked by another
// program (not that it cannot be opened), exits 1, and writes nothing; in a file still in
// the rollback journal mode, where the writer keeps even readers out, as in one with the
// write-ahead log.
TEST_F(SharedFile, AWriterHoldingTheFileMakesKqdbSayItIsLocked)
{
    for (const bool switched : {false, true}) {
        SCOPED_TRACE(switched ? "write-ahead log" : "rollback journal");
        if (switched) {
            TestSupport::TerminalQueries first(m_db.connectionString());
            first.load();
        }
        ASSERT_EQ(m_db.text(QStringLiteral("PRAGMA journal_mode")),
                  switched ? QStringLiteral("wal") : QStringLiteral("delete"));
        SqliteShell writer(m_db.path());
        // EXCLUSIVE takes the lock only at the first write: one is made, and kept open.
        writer.run(QStringLiteral("BEGIN EXCLUSIVE; INSERT INTO employ (num, name) VALUES ('w', 'writer');"));
        QElapsedTimer took;
        took.start();
        const ToolRun locked = kqdbSwipe(QStringLiteral("0001"), QStringLiteral("2026-12-07 08:00:00"));
        const qint64 ms = took.elapsed();
        writer.run(QStringLiteral("ROLLBACK;"));
        EXPECT_EQ(locked.exitCode, 1);
        EXPECT_TRUE(locked.err.contains("is locked by another program")) << locked.err.constData();
        EXPECT_FALSE(locked.err.contains("Cannot open database file")) << locked.err.constData();
        EXPECT_TRUE(locked.err.contains(m_db.path().toUtf8())) << locked.err.constData();
        // It waited for its bound first.
        EXPECT_GE(ms, 4500);
        EXPECT_EQ(records(), 0);
    }
}

// A file an earlier version made keeps the rollback journal. The first connection that
// may write it switches it to the write-ahead log, once: a journal a crashed writer left is
// rolled back first, everything reads back the same, and later opens change nothing. A
// user who only reads never switches it.
TEST_F(SharedFile, AnOlderFileSwitchesToTheLogOnceAndReadsBackTheSame)
{
    m_db.exec(
        QStringLiteral("INSERT INTO sgdjb VALUES ('0001', 'Worker 0001', 1796601600, 30000, 915148800), "
                       "('0002', 'Worker 0002', 1796601600, 30060, 915148800)"));
    SqliteShell dumper(m_db.path());
    const QByteArray before = dumper.run(QStringLiteral(".dump"));
    dumper.quit();
    ASSERT_TRUE(before.contains("INSERT INTO sgdjb"));
    ASSERT_EQ(m_db.text(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("delete"));

    // Reading only: not switched by a user who may only read.
    const ToolRun exported = TestSupport::runKqdb({QStringLiteral("export"), m_db.path()});
    EXPECT_EQ(exported.exitCode, 0) << exported.err.constData();
    EXPECT_EQ(exported.out.count('\n'), 3);
    EXPECT_EQ(m_db.text(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("delete"));

    // A writer killed in the middle of a write whose pages reached the file: a hot journal.
    const std::string path = m_db.path().toStdString();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            _exit(2);
        sqlite3_exec(
            db,
            "PRAGMA cache_size=1; BEGIN; DELETE FROM sgdjb; INSERT INTO employ (num, name) WITH "
            "RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) SELECT 'x' || i, "
            "'filler' FROM n",
            nullptr, nullptr, nullptr);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_GT(QFileInfo(m_db.path() + QStringLiteral("-journal")).size(), 0);

    {
        TestSupport::TerminalQueries terminal(m_db.connectionString());
        terminal.load();
        EXPECT_EQ(terminal.employees.recordCount(), 20);
    }
    // The log and its index stay when the terminal closes the file.
    EXPECT_TRUE(QFileInfo::exists(m_db.path() + QStringLiteral("-wal")));
    EXPECT_TRUE(QFileInfo::exists(m_db.path() + QStringLiteral("-shm")));
    EXPECT_EQ(m_db.text(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));
    SqliteShell after(m_db.path());
    EXPECT_EQ(after.run(QStringLiteral(".dump")), before);
    after.quit();

    // Switched once: opening it again changes no byte of the file.
    const QByteArray switched = TestSupport::fileBytes(m_db.path());
    EXPECT_EQ(switched.at(18), 2);
    EXPECT_EQ(switched.at(19), 2);
    {
        TestSupport::TerminalQueries again(m_db.connectionString());
        again.load();
    }
    EXPECT_EQ(TestSupport::fileBytes(m_db.path()), switched);
}

// A folder everyone may write to, without the sticky bit, on the way to the file: anyone
// could swap what it holds, so the terminal's code and kqdb refuse the file and name the
// folder. Made sticky, it is trusted, and so is a link its owner made there.
TEST_F(SharedFile, AFolderOthersMayChangeOnTheWayIsRefusedByName)
{
    QTemporaryDir root;
    const QString open = root.filePath(QStringLiteral("open"));
    const QString site = open + QStringLiteral("/site");
    ASSERT_TRUE(QDir().mkpath(site));
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0777), 0);
    const QString database = site + QStringLiteral("/kq.mdb");
    ASSERT_TRUE(QFile::copy(m_db.path(), database));

    const ToolRun refused = TestSupport::runKqdb({QStringLiteral("swipe"), database, QStringLiteral("0001")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(("the folder '" + open + "' on the way to it").toUtf8()))
        << refused.err.constData();
    EXPECT_TRUE(refused.err.contains("everyone may write to it and it is not sticky"))
        << refused.err.constData();
    EXPECT_TRUE(refused.err.contains("chmod +t")) << refused.err.constData();
    const ToolRun exported = TestSupport::runKqdb({QStringLiteral("export"), database});
    EXPECT_EQ(exported.exitCode, 1);
    EXPECT_TRUE(exported.err.contains(open.toUtf8())) << exported.err.constData();

    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 01777), 0);
    const QString link = open + QStringLiteral("/linked");
    ASSERT_TRUE(QFile::link(site, link));
    const ToolRun trusted = TestSupport::runKqdb(
        {QStringLiteral("swipe"), link + QStringLiteral("/kq.mdb"), QStringLiteral("0001")});
    EXPECT_EQ(trusted.exitCode, 0) << trusted.err.constData();
    EXPECT_EQ(TestSupport::SqliteFile(database).scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 1);
}

} // namespace
