#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestSupport::runKqdb;
using TestSupport::ToolRun;

int rowCount(const QString& path)
{
    return int(TestSupport::SqliteFile(path).scalar(QStringLiteral("SELECT count(*) FROM sgdjb")));
}

TEST(KqdbSwipe, RecordsRefusesARepeatAndReportsByExitCode)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kq.mdb"));
    ASSERT_EQ(runKqdb({QStringLiteral("create"), path, QStringLiteral("--employees"), QStringLiteral("3")})
                  .exitCode,
              0);

    const ToolRun first = runKqdb({QStringLiteral("swipe"), path, QStringLiteral("0001"),
                                   QStringLiteral("--now"), QStringLiteral("2026-03-02 08:30:15")});
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_TRUE(first.out.contains("2026-03-02 08:30")) << first.out.constData();

    const ToolRun again = runKqdb({QStringLiteral("swipe"), path, QStringLiteral("0001"),
                                   QStringLiteral("--now"), QStringLiteral("2026-03-02 08:33:14")});
    EXPECT_EQ(again.exitCode, 1);

    EXPECT_EQ(runKqdb({QStringLiteral("swipe"), path, QStringLiteral("9999")}).exitCode, 3);
    EXPECT_EQ(runKqdb({QStringLiteral("swipe"), dir.filePath(QStringLiteral("missing.mdb")),
                       QStringLiteral("0001")})
                  .exitCode,
              3);
    EXPECT_EQ(runKqdb({QStringLiteral("swipe"), path}).exitCode, 2);
    EXPECT_EQ(rowCount(path), 1);
}

} // namespace
