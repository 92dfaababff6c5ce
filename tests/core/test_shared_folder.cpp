// The operators' shared folder as the package's install script makes it, used by two
// unprivileged members of the group and by the administrator (root): no member can make
// another's terminal or the administrator's kqdb write a file other than the database, and
// a journal one member's crashed terminal left is recovered by the other.
//
// Acting as two users takes root: the tests run as root in CI. The two members are plain
// user ids without accounts, in the group "users" (gid 100).

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

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
    TestSupport::ToolRun kqdb(uid_t uid, const QStringList& args)
    {
        QProcess process;
        if (uid != 0) {
            process.setChildProcessModifier([uid] {
                const gid_t groups[] = {kGroup};
                if (setgroups(1, groups) != 0 || setgid(kGroup) != 0 || setuid(uid) != 0)
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

} // namespace
