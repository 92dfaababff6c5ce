// The operators' shared folder as the package's install script makes it, used by two
// unprivileged members of the group and by the administrator (root): no member can make
// another's terminal or the administrator's kqdb write a file other than the database, and
// a journal or log one member's crashed terminal left is recovered by the other; a folder
// above the shared one that the group may change is refused by name, and so is a journal or
// log a member planted; a user outside the group who may read the database exports it.
//
// Acting as two users takes root: the tests run as root in CI. The two members are plain
// user ids without accounts, in the group "users" (gid 100).

#include "support/SqliteShell.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

namespace {

constexpr gid_t kGroup = 100;
constexpr uid_t kMemberA = 64101;
constexpr uid_t kMemberB = 64102;

// Runs step in a child process as the user (in the group), and returns what it reported.
std::string asMember(uid_t uid, const std::function<std::string()>& step)
{
    return TestSupport::asUser(uid, kGroup, step);
}

class SharedFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(geteuid(), 0u) << "acting as two members of the group takes root";
        ASSERT_TRUE(getgrgid(kGroup)) << "no group with gid 100";
        // Everyone may pass through to the folders below; only root writes here.
        ASSERT_EQ(::chmod(QFile::encodeName(m_root.path()).constData(), 0755), 0);
        // kqdb as the members run it: a copy in a folder anyone may enter.
        m_kqdb = m_root.filePath(QStringLiteral("kqdb"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(TAVELO_BIN_DIR "/kqdb"), m_kqdb));
        ASSERT_EQ(::chmod(QFile::encodeName(m_kqdb).constData(), 0755), 0);

        // The shared folder as the package's install script makes it.
        // This file's path, as the compiler was given it, relative to the build folder.
        const QString postinst =
            QFileInfo(QDir(QStringLiteral(TAVELO_BIN_DIR)).filePath(QStringLiteral(__FILE__)))
                .dir()
                .filePath(QStringLiteral("../../packaging/debian/postinst"));
        QProcess install;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TAVELO_DATA_DIR"), m_folder);
        env.insert(QStringLiteral("TAVELO_GROUP"), QString::fromLocal8Bit(getgrgid(kGroup)->gr_name));
        env.insert(QStringLiteral("TAVELO_KQDB"), m_kqdb);
        install.setProcessEnvironment(env);
        install.start(QStringLiteral("sh"), {postinst, QStringLiteral("configure")});
        ASSERT_TRUE(install.waitForFinished(60000));
        ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().constData();
        ASSERT_EQ(kqdb(0, {QStringLiteral("create"), m_root.filePath(QStringLiteral("list.mdb"))}).exitCode,
                  0);
        TestSupport::writeFile(m_root.filePath(QStringLiteral("list.csv")),
                               "num,name\n0101,张伟\n0102,王芳\n0103,李娜\n");
        const TestSupport::ToolRun imported = kqdb(
            0, {QStringLiteral("import-employees"), m_database, m_root.filePath(QStringLiteral("list.csv"))});
        ASSERT_EQ(imported.exitCode, 0) << imported.err.constData();
    }

    // kqdb as a member (uid 0: as the administrator).
    TestSupport::ToolRun kqdb(uid_t uid, const QStringList& args) { return kqdbAs(uid, kGroup, args); }

    // kqdb as that user, in that group alone.
    TestSupport::ToolRun kqdbAs(uid_t uid, gid_t gid, const QStringList& args)
    {
        QProcess process;
        if (uid != 0) {
            process.setChildProcessModifier([uid, gid] {
                const gid_t groups[] = {gid};
                if (setgroups(1, groups) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
                    _exit(126);
            });
        }
        process.start(m_kqdb, args);
        TestSupport::ToolRun run;
        if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
            run.exitCode = process.exitCode();
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

    TestSupport::ToolRun swipe(uid_t uid, const char* num, const char* now)
    {
        return kqdb(uid, {QStringLiteral("swipe"), m_database, QString::fromLatin1(num),
                          QStringLiteral("--now"), QString::fromLatin1(now)});
    }

    qint64 count(const char* table) const
    {
        return TestSupport::SqliteFile(m_database, TestSupport::SqliteFile::Mode::ReadOnly)
            .scalar(QStringLiteral("SELECT count(*) FROM %1").arg(QString::fromLatin1(table)));
    }

    QTemporaryDir m_root;
    QString m_folder = m_root.filePath(QStringLiteral("tavelo"));
    QString m_database = m_folder + QStringLiteral("/kq.mdb");
    QString m_kqdb;
};

TEST_F(SharedFolderTest, NoMemberCanReplaceTheDatabase)
{
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(m_folder).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 03775u);
    EXPECT_EQ(st.st_gid, kGroup);

    // Each member may write the database, but not rename, delete or replace it.
    const std::string database = m_database.toStdString();
    const std::string folder = m_folder.toStdString();
    const std::string tried = asMember(kMemberA, [&] {
        std::string out;
        out += ::access(database.c_str(), W_OK) == 0 ? "writable " : "not-writable ";
        out += ::rename(database.c_str(), (folder + "/moved").c_str()) == 0 ? "renamed " : "no-rename ";
        out += ::unlink(database.c_str()) == 0 ? "deleted " : "no-delete ";
        const std::string planted = folder + "/planted";
        if (::symlink("/etc/shadow", planted.c_str()) != 0)
            return out + "cannot-plant";
        out += ::rename(planted.c_str(), database.c_str()) == 0 ? "replaced" : "no-replace";
        return out;
    });
    EXPECT_EQ(tried, "writable no-rename no-delete no-replace");
    EXPECT_EQ(count("employ"), 3);

    // Swipes of both members land in the one database.
    EXPECT_EQ(swipe(kMemberA, "0101", "2026-12-07 08:00:00").exitCode, 0);
    const TestSupport::ToolRun b = swipe(kMemberB, "0102", "2026-12-07 08:00:05");
    EXPECT_EQ(b.exitCode, 0) << b.err.constData();
    EXPECT_EQ(count("sgdjb"), 2);
}

TEST_F(SharedFolderTest, ALinkAtTheDatabaseNameIsNeverFollowed)
{
    // A folder without the sticky bit (an administrator made it so): a member can swap
    // the database for a link. Neither the administrator's kqdb nor the other member's
    // terminal follows it.
    ASSERT_EQ(::chmod(QFile::encodeName(m_folder).constData(), 02775), 0);
    const QString rootOnly = m_root.filePath(QStringLiteral("private/root.mdb"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(rootOnly).path()));
    ASSERT_EQ(::chmod(QFile::encodeName(QFileInfo(rootOnly).path()).constData(), 0711), 0);
    ASSERT_EQ(kqdb(0, {QStringLiteral("create"), rootOnly, QStringLiteral("--demo")}).exitCode, 0);
    ASSERT_EQ(::chmod(QFile::encodeName(rootOnly).constData(), 0600), 0);
    const QByteArray rootBefore = TestSupport::fileBytes(rootOnly);
    // A database member B owns and writes, in a folder of B's.
    const QString bOwn = m_root.filePath(QStringLiteral("b/own.mdb"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(bOwn).path()));
    ASSERT_EQ(kqdb(0, {QStringLiteral("create"), bOwn, QStringLiteral("--demo")}).exitCode, 0);
    ASSERT_EQ(::chown(QFile::encodeName(QFileInfo(bOwn).path()).constData(), kMemberB, kGroup), 0);
    ASSERT_EQ(::chown(QFile::encodeName(bOwn).constData(), kMemberB, kGroup), 0);
    const QByteArray bBefore = TestSupport::fileBytes(bOwn);

    const std::string database = m_database.toStdString();
    for (const QString& target : {rootOnly, bOwn}) {
        const std::string link = target.toStdString();
        const std::string swapped = asMember(kMemberA, [&] {
            ::unlink(database.c_str());
            return std::string(::symlink(link.c_str(), database.c_str()) == 0 ? "swapped" : "refused");
        });
        ASSERT_EQ(swapped, "swapped");

        const TestSupport::ToolRun admin =
            kqdb(0, {QStringLiteral("import-employees"), m_database,
                     m_root.filePath(QStringLiteral("list.csv")), QStringLiteral("--replace")});
        EXPECT_EQ(admin.exitCode, 1);
        EXPECT_TRUE(admin.err.contains("is a symbolic link in a folder that others may write to"))
            << admin.err.constData();
        const TestSupport::ToolRun member = swipe(kMemberB, "0101", "2026-12-07 09:00:00");
        EXPECT_EQ(member.exitCode, 1); // the database could not be opened
        EXPECT_TRUE(member.err.contains("symbolic link")) << member.err.constData();
    }
    EXPECT_EQ(TestSupport::fileBytes(rootOnly), rootBefore);
    EXPECT_EQ(TestSupport::fileBytes(bOwn), bBefore);
    EXPECT_FALSE(QFileInfo::exists(rootOnly + QStringLiteral("-journal")));
    EXPECT_FALSE(QFileInfo::exists(bOwn + QStringLiteral("-journal")));
}

TEST_F(SharedFolderTest, AJournalOneMemberLeftIsRecoveredByTheOther)
{
    ASSERT_EQ(swipe(kMemberA, "0101", "2026-12-07 08:00:00").exitCode, 0);
    // The database as an earlier version kept it, with the rollback journal.
    ASSERT_EQ(TestSupport::SqliteFile(m_database).text(QStringLiteral("PRAGMA journal_mode=DELETE")),
              QStringLiteral("delete"));
    // Member A's terminal dies in the middle of a write that has already reached the file:
    // its journal is hot, and only A (or root) could delete it in the sticky folder.
    const std::string database = m_database.toStdString();
    const std::string crashed = asMember(kMemberA, [&] {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            return std::string("cannot open");
        // A one-page cache spills the change into the file before the commit.
        if (sqlite3_exec(
                db,
                "PRAGMA cache_size=1; BEGIN; DELETE FROM employ; DELETE FROM sgdjb; "
                "INSERT INTO employ (num, name) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                "FROM n WHERE i < 5000) SELECT 'x' || i, 'filler' FROM n",
                nullptr, nullptr, nullptr) != SQLITE_OK)
            return std::string(sqlite3_errmsg(db));
        _exit(0);
        return std::string();
    });
    ASSERT_EQ(crashed, "");
    const QFileInfo journal(m_database + QStringLiteral("-journal"));
    ASSERT_TRUE(journal.exists());
    ASSERT_GT(journal.size(), 0);
    ASSERT_EQ(journal.ownerId(), kMemberA);

    // Member B's terminal rolls it back and records its swipe.
    const TestSupport::ToolRun b = swipe(kMemberB, "0102", "2026-12-07 08:01:00");
    ASSERT_EQ(b.exitCode, 0) << b.err.constData();
    EXPECT_EQ(count("employ"), 3);
    EXPECT_EQ(count("sgdjb"), 2);
    // The journal is left empty, which no one takes for a hot one, and A's and the
    // administrator's writes go on.
    EXPECT_EQ(QFileInfo(m_database + QStringLiteral("-journal")).size(), 0);
    EXPECT_EQ(swipe(kMemberA, "0103", "2026-12-07 08:02:00").exitCode, 0);
    EXPECT_EQ(kqdb(0, {QStringLiteral("import-employees"), m_database,
                       m_root.filePath(QStringLiteral("list.csv")), QStringLiteral("--replace")})
                  .exitCode,
              0);
    EXPECT_EQ(swipe(kMemberB, "0101", "2026-12-07 08:10:00").exitCode, 0);
    EXPECT_EQ(count("sgdjb"), 4);
    const TestSupport::ToolRun check = kqdb(0, {QStringLiteral("export"), m_database});
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.out.count('\n'), 5);
}

// With the write-ahead log: member A's terminal dies after a commit and in the middle of a
// larger write that has reached the log; member B's terminal recovers the log, keeps the
// commit, leaves out the unfinished write, and records its own swipe.
TEST_F(SharedFolderTest, ALogOneMemberLeftIsRecoveredByTheOther)
{
    ASSERT_EQ(swipe(kMemberA, "0101", "2026-12-07 08:00:00").exitCode, 0);
    ASSERT_EQ(TestSupport::SqliteFile(m_database).text(QStringLiteral("PRAGMA journal_mode")),
              QStringLiteral("wal"));
    const std::string database = m_database.toStdString();
    const std::string crashed = asMember(kMemberA, [&] {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            return std::string("cannot open");
        if (sqlite3_exec(
                db,
                "INSERT INTO sgdjb VALUES ('0102', 'committed', 1796601600, 29000, 915148800); "
                "PRAGMA cache_size=1; BEGIN; DELETE FROM employ; DELETE FROM sgdjb; "
                "INSERT INTO employ (num, name) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                "FROM n WHERE i < 5000) SELECT 'x' || i, 'filler' FROM n",
                nullptr, nullptr, nullptr) != SQLITE_OK)
            return std::string(sqlite3_errmsg(db));
        _exit(0);
        return std::string();
    });
    ASSERT_EQ(crashed, "");
    ASSERT_GT(QFileInfo(m_database + QStringLiteral("-wal")).size(), 0);

    const TestSupport::ToolRun b = swipe(kMemberB, "0103", "2026-12-07 08:01:00");
    ASSERT_EQ(b.exitCode, 0) << b.err.constData();
    EXPECT_EQ(count("employ"), 3);
    EXPECT_EQ(count("sgdjb"), 3);
    EXPECT_EQ(TestSupport::SqliteFile(m_database).text(QStringLiteral("PRAGMA integrity_check")),
              QStringLiteral("ok"));
    EXPECT_EQ(swipe(kMemberA, "0103", "2026-12-07 08:10:00").exitCode, 0);
    EXPECT_EQ(count("sgdjb"), 4);
}

// The folder above the shared one lets the group write and is not sticky: a member moves
// the site folder away and puts a link to a folder of their own in its place, whose kq.mdb
// leads to the administrator's private database. Neither the administrator's kqdb nor the
// other member's follows it; both name the folder that let it happen.
TEST_F(SharedFolderTest, ASwappedFolderUnderANonStickyParentIsRefusedByName)
{
    const QString rootOnly = m_root.filePath(QStringLiteral("private/root.mdb"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(rootOnly).path()));
    ASSERT_EQ(::chmod(QFile::encodeName(QFileInfo(rootOnly).path()).constData(), 0711), 0);
    ASSERT_EQ(kqdb(0, {QStringLiteral("create"), rootOnly, QStringLiteral("--demo")}).exitCode, 0);
    ASSERT_EQ(::chmod(QFile::encodeName(rootOnly).constData(), 0600), 0);
    const QByteArray rootBefore = TestSupport::fileBytes(rootOnly);

    const QByteArray parent = QFile::encodeName(m_root.path());
    ASSERT_EQ(::chown(parent.constData(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(parent.constData(), 02775), 0);
    const std::string folder = m_folder.toStdString();
    const std::string own = m_root.filePath(QStringLiteral("own")).toStdString();
    const std::string target = rootOnly.toStdString();
    const std::string swapped = asMember(kMemberA, [&] {
        if (::rename(folder.c_str(), (folder + ".moved").c_str()) != 0)
            return std::string("cannot move the folder");
        if (::mkdir(own.c_str(), 0755) != 0 || ::symlink(target.c_str(), (own + "/kq.mdb").c_str()) != 0)
            return std::string("cannot make a folder of one's own");
        return std::string(::symlink(own.c_str(), folder.c_str()) == 0 ? "swapped" : "cannot link");
    });
    ASSERT_EQ(swapped, "swapped");

    const QByteArray named = "the folder '" + parent + "' on the way to it may be changed by others";
    const TestSupport::ToolRun admin =
        kqdb(0, {QStringLiteral("import-employees"), m_database, m_root.filePath(QStringLiteral("list.csv")),
                 QStringLiteral("--replace")});
    EXPECT_EQ(admin.exitCode, 1);
    EXPECT_TRUE(admin.err.contains(named)) << admin.err.constData();
    EXPECT_TRUE(admin.err.contains("may write to it and it is not sticky")) << admin.err.constData();
    const TestSupport::ToolRun member = swipe(kMemberB, "0101", "2026-12-07 09:00:00");
    EXPECT_EQ(member.exitCode, 1);
    EXPECT_TRUE(member.err.contains(named)) << member.err.constData();
    EXPECT_EQ(TestSupport::fileBytes(rootOnly), rootBefore);
    EXPECT_EQ(QFileInfo(rootOnly + QStringLiteral("-wal")).size(), 0);
    EXPECT_FALSE(QFileInfo::exists(rootOnly + QStringLiteral("-journal")));

    // The same parent made sticky: the swap cannot be made, and the database is trusted.
    const std::string undone = asMember(kMemberA, [&] {
        return std::string(::unlink(folder.c_str()) == 0 &&
                                   ::rename((folder + ".moved").c_str(), folder.c_str()) == 0
                               ? "undone"
                               : "stuck");
    });
    ASSERT_EQ(undone, "undone");
    ASSERT_EQ(::chmod(parent.constData(), 03775), 0);
    EXPECT_EQ(swipe(kMemberB, "0101", "2026-12-07 09:00:00").exitCode, 0);
}

// A member puts a journal of their own beside the database, which the others may not
// write, or a link where the log belongs: the others' terminals and the administrator's
// kqdb refuse the file and name what stands there, and what the administrator should do.
TEST_F(SharedFolderTest, APlantedJournalOrLogIsNamed)
{
    const std::string journal = (m_database + QStringLiteral("-journal")).toStdString();
    const std::string planted = asMember(kMemberA, [&] {
        const int fd = ::open(journal.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0)
            return std::string("cannot plant");
        const bool written = ::write(fd, "not a journal", 13) == 13;
        ::close(fd);
        return std::string(written ? "planted" : "cannot write");
    });
    ASSERT_EQ(planted, "planted");
    const TestSupport::ToolRun b = swipe(kMemberB, "0101", "2026-12-07 08:00:00");
    EXPECT_EQ(b.exitCode, 1);
    EXPECT_TRUE(
        b.err.contains(("the journal '" + m_database + "-journal' beside it belongs to uid 64101").toUtf8()))
        << b.err.constData();
    EXPECT_TRUE(b.err.contains("an administrator should remove it")) << b.err.constData();
    ASSERT_EQ(::unlink(journal.c_str()), 0);
    EXPECT_EQ(swipe(kMemberB, "0101", "2026-12-07 08:00:00").exitCode, 0);

    // The log and its index gone (a program that does not keep them closed the file last),
    // and a link put where the log belongs.
    for (const char* suffix : {"-wal", "-shm"})
        ASSERT_EQ(::unlink((m_database + QLatin1String(suffix)).toLocal8Bit().constData()), 0);
    const QString elsewhere = m_root.filePath(QStringLiteral("elsewhere"));
    TestSupport::writeFile(elsewhere, "someone else's file");
    const std::string wal = (m_database + QStringLiteral("-wal")).toStdString();
    const std::string target = elsewhere.toStdString();
    ASSERT_EQ(
        asMember(kMemberA,
                 [&] { return std::string(::symlink(target.c_str(), wal.c_str()) == 0 ? "linked" : "no"); }),
        "linked");
    const TestSupport::ToolRun admin =
        kqdb(0, {QStringLiteral("import-employees"), m_database, m_root.filePath(QStringLiteral("list.csv")),
                 QStringLiteral("--replace")});
    EXPECT_EQ(admin.exitCode, 1);
    EXPECT_TRUE(admin.err.contains(
        ("'" + m_database + "-wal' beside it is a symbolic link made by uid 64101").toUtf8()))
        << admin.err.constData();
    EXPECT_EQ(TestSupport::fileBytes(elsewhere), "someone else's file");
}

// A payroll clerk may read the database but is not in the group: exports work while the
// members swipe, and while another program holds the file for writing.
TEST_F(SharedFolderTest, AUserWhoMayOnlyReadExportsDuringSwipes)
{
    constexpr uid_t kReader = 64103;
    const auto exportAsReader = [&] {
        return kqdbAs(kReader, kReader, {QStringLiteral("export"), m_database});
    };
    for (int i = 0; i < 4; ++i) {
        const TestSupport::ToolRun swiped =
            swipe(i % 2 ? kMemberB : kMemberA, i % 2 ? "0102" : "0101",
                  QStringLiteral("2026-12-07 0%1:00:00").arg(i + 1).toLatin1().constData());
        ASSERT_EQ(swiped.exitCode, 0) << swiped.err.constData();
        const TestSupport::ToolRun exported = exportAsReader();
        ASSERT_EQ(exported.exitCode, 0) << exported.err.constData();
        EXPECT_EQ(exported.out.count('\n'), i + 2);
    }
    {
        TestSupport::SqliteShell writer(m_database);
        writer.run(
            QStringLiteral("BEGIN EXCLUSIVE; INSERT INTO sgdjb VALUES ('0103', 'x', 1796601600, 0, 0);"));
        const TestSupport::ToolRun exported = exportAsReader();
        EXPECT_EQ(exported.exitCode, 0) << exported.err.constData();
        EXPECT_EQ(exported.out.count('\n'), 5);
        writer.run(QStringLiteral("ROLLBACK;"));
    }
    // Reading is all the clerk may do.
    const TestSupport::ToolRun swiped =
        kqdbAs(kReader, kReader,
               {QStringLiteral("swipe"), m_database, QStringLiteral("0103"), QStringLiteral("--now"),
                QStringLiteral("2026-12-07 09:00:00")});
    EXPECT_EQ(swiped.exitCode, 1);
    EXPECT_EQ(count("sgdjb"), 4);
}

} // namespace
