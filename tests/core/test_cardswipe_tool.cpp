#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

const QString kTool = QStringLiteral(TAVELO_BIN_DIR "/kqdb");

struct ToolRun
{
    int exitCode = -1;
    QByteArray out;
};

ToolRun kqdb(const QStringList& args)
{
    QProcess process;
    process.start(kTool, args);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput()};
}

int rowCount(const QString& path)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM sgdjb", -1, &stmt, nullptr);
    sqlite3_step(stmt);
    const int n = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return n;
}

TEST(KqdbSwipe, RecordsRefusesARepeatAndReportsByExitCode)
{
    if (!QFile::exists(kTool))
        GTEST_SKIP() << "kqdb not built";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kq.mdb"));
    ASSERT_EQ(
        kqdb({QStringLiteral("create"), path, QStringLiteral("--employees"), QStringLiteral("3")}).exitCode,
        0);

    const ToolRun first = kqdb({QStringLiteral("swipe"), path, QStringLiteral("0001"),
                                QStringLiteral("--now"), QStringLiteral("2026-03-02 08:30:15")});
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_TRUE(first.out.contains("2026-03-02 08:30")) << first.out.constData();

    const ToolRun again = kqdb({QStringLiteral("swipe"), path, QStringLiteral("0001"),
                                QStringLiteral("--now"), QStringLiteral("2026-03-02 08:33:14")});
    EXPECT_EQ(again.exitCode, 1);

    EXPECT_EQ(kqdb({QStringLiteral("swipe"), path, QStringLiteral("9999")}).exitCode, 3);
    EXPECT_EQ(
        kqdb({QStringLiteral("swipe"), dir.filePath(QStringLiteral("missing.mdb")), QStringLiteral("0001")})
            .exitCode,
        3);
    EXPECT_EQ(kqdb({QStringLiteral("swipe"), path}).exitCode, 2);
    EXPECT_EQ(rowCount(path), 1);
}

} // namespace
