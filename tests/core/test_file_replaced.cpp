// The database file replaced while the terminal runs (a backup restored, or the file
// copied, removed and moved back): the next swipe lands in the file that is there now, and
// the list keeps showing what it had loaded.

#include "attendance/CardSwipe.h"
#include "support/ManualClock.h"
#include "support/TerminalQueries.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

using Kind = SwipeOutcome::Kind;
using TestSupport::DevDatabase;

class FileReplaced : public ::testing::Test
{
protected:
    void SetUp() override { m_terminal.load(); }

    // Four minutes after the last swipe, so that each one is meant to record.
    SwipeOutcome swipe()
    {
        m_clock.advanceSecs(4 * 60);
        return CardSwipe::run(&m_terminal.employees, m_terminal.records, m_clock);
    }

    qint64 records() const { return m_db.scalar(QStringLiteral("SELECT count(*) FROM sgdjb")); }
    QString sibling(const char* name) const { return m_db.folder() + u'/' + QString::fromLatin1(name); }

    DevDatabase m_db{3};
    TestSupport::TerminalQueries m_terminal{m_db.connectionString()};
    ManualClock m_clock{QDateTime(QDate(2026, 3, 2), QTime(8, 0), Qt::UTC)};
};

TEST_F(FileReplaced, CopiedRemovedAndMovedBackTheSwipeLandsInTheNewFile)
{
    ASSERT_EQ(swipe().kind, Kind::Recorded);
    ASSERT_EQ(records(), 1);

    // cp kq.mdb x; rm kq.mdb; mv x kq.mdb
    const QString copy = sibling("x");
    ASSERT_TRUE(QFile::copy(m_db.path(), copy));
    ASSERT_TRUE(QFile::remove(m_db.path()));
    ASSERT_TRUE(QFile::rename(copy, m_db.path()));

    const SwipeOutcome second = swipe();
    EXPECT_EQ(second.kind, Kind::Recorded) << second.errorMessage.toStdString();
    EXPECT_EQ(records(), 2);
    EXPECT_TRUE(m_terminal.employees.isOpen());
    EXPECT_EQ(m_terminal.employees.recordCount(), 3);

    // And the one after that as well, without a reopen in between.
    EXPECT_EQ(swipe().kind, Kind::Recorded);
    EXPECT_EQ(records(), 3);
}

TEST_F(FileReplaced, RestoredBackupTakesTheNextSwipeAndItsDuplicateTest)
{
    const QString backup = sibling("backup.mdb");
    ASSERT_TRUE(QFile::copy(m_db.path(), backup));
    ASSERT_EQ(swipe().kind, Kind::Recorded);

    // The backup has no record, so the repeat within the window records into it.
    ASSERT_TRUE(QFile::remove(m_db.path()));
    ASSERT_TRUE(QFile::rename(backup, m_db.path()));
    m_clock.advanceSecs(-4 * 60 + 30);
    const SwipeOutcome repeat = CardSwipe::run(&m_terminal.employees, m_terminal.records, m_clock);
    EXPECT_EQ(repeat.kind, Kind::Recorded) << repeat.errorMessage.toStdString();
    EXPECT_EQ(records(), 1);
}

TEST_F(FileReplaced, NoFileUnderThePathFailsTheSwipeUntilOneIsBack)
{
    ASSERT_EQ(swipe().kind, Kind::Recorded);
    const QString aside = sibling("aside.mdb");
    ASSERT_TRUE(QFile::rename(m_db.path(), aside));

    const SwipeOutcome failed = swipe();
    EXPECT_EQ(failed.kind, Kind::Nothing);
    EXPECT_TRUE(failed.errorMessage.startsWith(QStringLiteral("Could not find file")))
        << failed.errorMessage.toStdString();
    EXPECT_TRUE(m_terminal.employees.isOpen());
    EXPECT_EQ(TestSupport::SqliteFile(aside).scalar(QStringLiteral("SELECT count(*) FROM sgdjb")), 1);

    ASSERT_TRUE(QFile::rename(aside, m_db.path()));
    EXPECT_EQ(swipe().kind, Kind::Recorded);
    EXPECT_EQ(records(), 2);
}

// Overwritten in place the file keeps its identity; SQLite sees the new content itself.
TEST_F(FileReplaced, OverwrittenInPlaceNeedsNoReopen)
{
    const QByteArray empty = TestSupport::fileBytes(m_db.path());
    ASSERT_EQ(swipe().kind, Kind::Recorded);
    TestSupport::writeFile(m_db.path(), empty);
    EXPECT_EQ(records(), 0);
    EXPECT_EQ(swipe().kind, Kind::Recorded);
    EXPECT_EQ(records(), 1);
}

} // namespace
