#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using TestSupport::runKqdb;
using TestSupport::runProgram;
using TestSupport::ToolRun;

ToolRun kqdb(const QStringList& args)
{
    return runKqdb(args);
}

// The tool as user nobody when the test runs as root, whose writes no permission stops.
ToolRun kqdbUnprivileged(const QStringList& args)
{
    return TestSupport::runProgramUnprivileged(QStringLiteral(TAVELO_BIN_DIR "/kqdb"), args);
}

int rowCount(const QString& path)
{
    return int(TestSupport::SqliteFile(path).scalar(QStringLiteral("SELECT count(*) FROM sgdjb")));
}

class KqdbSwipe : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("kq.mdb"));
        ASSERT_EQ(kqdb({QStringLiteral("create"), m_path, QStringLiteral("--employees"), QStringLiteral("3")})
                      .exitCode,
                  0);
    }

    ToolRun swipe(const QString& path, const QString& number = QStringLiteral("0001"))
    {
        return kqdb({QStringLiteral("swipe"), path, number, QStringLiteral("--now"),
                     QStringLiteral("2026-03-02 08:30:15")});
    }

    QTemporaryDir m_dir;
    QString m_path;
};

TEST_F(KqdbSwipe, RecordsRefusesARepeatAndReportsByExitCode)
{
    const ToolRun first = swipe(m_path);
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_TRUE(first.out.contains("2026-03-02 08:30")) << first.out.constData();

    const ToolRun again = kqdb({QStringLiteral("swipe"), m_path, QStringLiteral("0001"),
                                QStringLiteral("--now"), QStringLiteral("2026-03-02 08:33:14")});
    EXPECT_EQ(again.exitCode, 4);

    const ToolRun nobody = kqdb({QStringLiteral("swipe"), m_path, QStringLiteral("9999")});
    EXPECT_EQ(nobody.exitCode, 3);
    EXPECT_TRUE(nobody.err.contains("no employee 9999")) << nobody.err.constData();
    EXPECT_EQ(kqdb({QStringLiteral("swipe"), m_path}).exitCode, 2);
    EXPECT_EQ(rowCount(m_path), 1);
}

TEST_F(KqdbSwipe, HelpIsTheUsageOnStandardOutput)
{
    const ToolRun help = kqdb({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("kqdb swipe TARGET NUM [--now")) << help.out.constData();
    EXPECT_TRUE(help.out.contains("kqdb create")) << help.out.constData();
    EXPECT_TRUE(help.err.isEmpty());

    const ToolRun swipeHelp = kqdb({QStringLiteral("swipe"), QStringLiteral("--help")});
    EXPECT_EQ(swipeHelp.exitCode, 0);
    EXPECT_TRUE(swipeHelp.out.contains("--now")) << swipeHelp.out.constData();

    const ToolRun bare = kqdb({});
    EXPECT_EQ(bare.exitCode, 2);
    EXPECT_TRUE(bare.err.contains("usage:"));
}

// The window bounds, three minutes either side, must be writable dates.
TEST_F(KqdbSwipe, NowOutsideTheWritableRangeIsAUsageError)
{
    for (const char* now :
         {"9999-12-31 23:58:00", "0001-01-01 00:02:59", "2026-02-30 08:00:00", "yesterday"}) {
        const ToolRun r = kqdb({QStringLiteral("swipe"), m_path, QStringLiteral("0001"),
                                QStringLiteral("--now"), QString::fromLatin1(now)});
        EXPECT_EQ(r.exitCode, 2) << now;
        EXPECT_TRUE(r.err.contains("--now takes")) << now << ": " << r.err.constData();
    }
    EXPECT_EQ(rowCount(m_path), 0);
    for (const char* now : {"9999-12-31 23:56:59", "0001-01-01 00:03:00"}) {
        const ToolRun r = kqdb({QStringLiteral("swipe"), m_path, QStringLiteral("0001"),
                                QStringLiteral("--now"), QString::fromLatin1(now)});
        EXPECT_EQ(r.exitCode, 0) << now << ": " << r.err.constData();
    }
    EXPECT_EQ(rowCount(m_path), 2);
}

// A database failure has an exit code of its own and the database's message.
TEST_F(KqdbSwipe, DatabaseFailuresSayWhy)
{
    const ToolRun missing = swipe(m_dir.filePath(QStringLiteral("missing.mdb")));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("Could not find file")) << missing.err.constData();

    const QString loop = m_dir.filePath(QStringLiteral("loop.mdb"));
    ASSERT_TRUE(QFile::link(loop, loop));
    const ToolRun looped = swipe(loop);
    EXPECT_EQ(looped.exitCode, 1);
    EXPECT_TRUE(looped.err.contains("Too many levels of symbolic links")) << looped.err.constData();

    // Another writer holds the write lock past the busy timeout.
    ToolRun locked;
    {
        const TestSupport::SqliteFile holder(m_path);
        holder.exec(QStringLiteral("BEGIN IMMEDIATE"));
        locked = swipe(m_path);
        holder.exec(QStringLiteral("ROLLBACK"));
    }
    EXPECT_EQ(locked.exitCode, 1);
    EXPECT_TRUE(locked.err.contains("database is locked")) << locked.err.constData();
    EXPECT_EQ(rowCount(m_path), 0);
}

TEST_F(KqdbSwipe, ReadOnlyDatabaseSaysSo)
{
    ASSERT_EQ(chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(m_path).constData(), geteuid() == 0 ? 0644 : 0444), 0);
    const ToolRun r = kqdbUnprivileged({QStringLiteral("swipe"), m_path, QStringLiteral("0001"),
                                        QStringLiteral("--now"), QStringLiteral("2026-03-02 08:30:15")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("the file cannot be written")) << r.err.constData();
    EXPECT_EQ(rowCount(m_path), 0);
}

TEST_F(KqdbSwipe, DamagedDatabaseSaysSo)
{
    // The pages after the first are the tables' own: overwrite them with noise.
    QFile file(m_path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    ASSERT_GT(size, 4096);
    file.seek(4096);
    file.write(QByteArray(int(size - 4096), '\x5a'));
    file.close();
    const ToolRun r = swipe(m_path);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("database disk image is malformed")) << r.err.constData();
}

} // namespace
