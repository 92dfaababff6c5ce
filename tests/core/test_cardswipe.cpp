#include "attendance/CardSwipe.h"
#include "attendance/SwipeWindow.h"
#include "platform/Gbk.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/SqlStatementPlan.h"
#include "query/Statements.h"
#include "support/ManualClock.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Kind = SwipeOutcome::Kind;

const QDate kDay(2026, 3, 2);

qint64 epochSeconds(const QDate& date, const QTime& time = QTime(0, 0))
{
    return QDate(1970, 1, 1).daysTo(date) * 86400 + time.msecsSinceStartOfDay() / 1000;
}

struct StoredRow
{
    std::string num;
    std::string name;
    qint64 d = 0;
    qint64 t = 0;
    qint64 opdate = 0;
    bool integers = true;
};

// Reads and writes the file behind the provider's back, so the tests see what is stored.
class RawDb
{
public:
    explicit RawDb(const QString& path) : m_file(path, TestSupport::SqliteFile::Mode::Create) {}

    void exec(const std::string& sql) { m_file.exec(QString::fromStdString(sql)); }

    void addRecord(const std::string& num, const std::string& name, qint64 d, qint64 t)
    {
        exec("INSERT INTO sgdjb (num, name, D, T, opdate) VALUES ('" + num + "', '" + name + "', " +
             std::to_string(d) + ", " + std::to_string(t) + ", " +
             std::to_string(epochSeconds(QDate(1999, 1, 1))) + ")");
    }

    std::vector<StoredRow> rows(const std::string& num)
    {
        std::vector<StoredRow> result;
        const QStringList lines = m_file.rows(
            QStringLiteral("SELECT num, name, D, T, opdate, typeof(D) || typeof(T) || typeof(opdate) "
                           "FROM sgdjb WHERE num = '%1' ORDER BY rowid")
                .arg(QString::fromStdString(num)));
        for (const QString& line : lines) {
            const QStringList columns = line.split(u'|');
            StoredRow row;
            row.num = columns[0].toStdString();
            row.name = columns[1].toStdString();
            row.d = columns[2].toLongLong();
            row.t = columns[3].toLongLong();
            row.opdate = columns[4].toLongLong();
            row.integers = columns[5] == QStringLiteral("integerintegerinteger");
            result.push_back(row);
        }
        return result;
    }

    std::string queryPlan(const std::string& sql)
    {
        std::string plan;
        for (const QString& row :
             m_file.rows(QStringLiteral("EXPLAIN QUERY PLAN ") + QString::fromStdString(sql)))
            plan += row.section(u'|', 3).toStdString();
        return plan;
    }

    int count() { return int(m_file.scalar(QStringLiteral("SELECT count(*) FROM sgdjb"))); }

    // True when nobody holds a transaction open on the file.
    bool writable()
    {
        m_file.setBusyTimeout(0);
        const bool ok = m_file.tryExec(QStringLiteral("BEGIN IMMEDIATE; COMMIT;"));
        m_file.setBusyTimeout(5000);
        return ok;
    }

private:
    TestSupport::SqliteFile m_file;
};

QString connectionString(const QString& path)
{
    return TestSupport::jetConnectionString(QDir::toNativeSeparators(path));
}

// A clock that moves by a fixed step on every read, to tell the reads of one swipe apart;
// it can also be told to fail on a given read.
class SteppingClock : public Clock
{
public:
    SteppingClock(QDateTime start, int stepSecs, int failOnRead = 0)
        : m_now(std::move(start)), m_step(stepSecs), m_failOnRead(failOnRead)
    {
    }
    QDateTime now() const override
    {
        ++m_reads;
        if (m_reads == m_failOnRead)
            throw std::runtime_error("clock unavailable");
        const QDateTime value = m_now;
        m_now = m_now.addSecs(m_step);
        return value;
    }
    int reads() const { return m_reads; }

private:
    mutable QDateTime m_now;
    int m_step;
    int m_failOnRead;
    mutable int m_reads = 0;
};

class CardSwipeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("kq.mdb"));
        m_raw = std::make_unique<RawDb>(m_path);
        m_raw->exec(TestSupport::schemaSql().toStdString());
        m_raw->exec(
            "INSERT INTO employ VALUES ('1001', '张三', '01'), ('1002', '李四', '01'), ('', '无号', '02')");
        m_connection.setConnectionString(connectionString(m_path));
        m_employees.setConnection(&m_connection);
        m_records.setConnection(&m_connection);
        m_employees.sqlAdd(QStringLiteral("SELECT * FROM employ"));
        m_employees.open();
        select("1001");
        m_clock.set(kDay, QTime(8, 30, 15));
    }

    void select(const QString& num)
    {
        for (int row = 0; row < m_employees.recordCount(); ++row) {
            m_employees.setRecNo(row);
            if (m_employees.fieldAsString(QStringLiteral("num")) == num)
                return;
        }
        FAIL() << "no employee " << num.toStdString();
    }

    SwipeOutcome swipe()
    {
        const SwipeOutcome outcome = CardSwipe::run(&m_employees, m_records, m_clock);
        EXPECT_FALSE(m_records.isOpen());
        return outcome;
    }

    void addRecord(const std::string& num, const std::string& name, const QDateTime& at)
    {
        m_raw->addRecord(num, name, epochSeconds(at.date()), at.time().msecsSinceStartOfDay() / 1000);
    }

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<RawDb> m_raw;
    AdoConnection m_connection;
    AdoQuery m_employees{QStringLiteral("YgQry")};
    AdoQuery m_records{QStringLiteral("RecordQry")};
    ManualClock m_clock;
};

TEST_F(CardSwipeTest, SecondSwipeWithinWindowShowsTheFirstRecord)
{
    const SwipeOutcome first = swipe();
    EXPECT_EQ(first.kind, Kind::Recorded);
    EXPECT_EQ(first.statusText, QStringLiteral("【1001 张三】 2026-03-02 08:30 刷卡成功！"));

    m_clock.advanceSecs(100);
    const SwipeOutcome second = swipe();
    EXPECT_EQ(second.kind, Kind::AlreadyRecorded);
    EXPECT_EQ(second.statusText, QStringLiteral("【1001 张三】 2026-03-02 08:30 已刷卡"));
    EXPECT_EQ(m_raw->count(), 1);
}

TEST_F(CardSwipeTest, StatusTextsByteForByte)
{
    const SwipeOutcome recorded = swipe();
    m_clock.advanceSecs(60);
    const SwipeOutcome already = swipe();

    const QByteArray recordedUtf8 = "\xe3\x80\x90"
                                    "1001 \xe5\xbc\xa0\xe4\xb8\x89\xe3\x80\x91 2026-03-02 08:30 "
                                    "\xe5\x88\xb7\xe5\x8d\xa1\xe6\x88\x90\xe5\x8a\x9f\xef\xbc\x81";
    const QByteArray recordedGbk = "\xa1\xbe"
                                   "1001 \xd5\xc5\xc8\xfd\xa1\xbf 2026-03-02 08:30 "
                                   "\xcb\xa2\xbf\xa8\xb3\xc9\xb9\xa6\xa3\xa1";
    const QByteArray alreadyUtf8 = "\xe3\x80\x90"
                                   "1001 \xe5\xbc\xa0\xe4\xb8\x89\xe3\x80\x91 2026-03-02 08:30 "
                                   "\xe5\xb7\xb2\xe5\x88\xb7\xe5\x8d\xa1";
    const QByteArray alreadyGbk = "\xa1\xbe"
                                  "1001 \xd5\xc5\xc8\xfd\xa1\xbf 2026-03-02 08:30 "
                                  "\xd2\xd1\xcb\xa2\xbf\xa8";
    EXPECT_EQ(recorded.statusText.toUtf8(), recordedUtf8);
    EXPECT_EQ(Gbk::encode(recorded.statusText), recordedGbk);
    EXPECT_EQ(already.statusText.toUtf8(), alreadyUtf8);
    EXPECT_EQ(Gbk::encode(already.statusText), alreadyGbk);
}

TEST_F(CardSwipeTest, StoresDateTimeAndFixedProcessingDateAsSeconds)
{
    ASSERT_EQ(swipe().kind, Kind::Recorded);
    const std::vector<StoredRow> rows = m_raw->rows("1001");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "张三");
    EXPECT_TRUE(rows[0].integers);
    EXPECT_EQ(rows[0].d, epochSeconds(kDay));
    EXPECT_EQ(rows[0].t, 8 * 3600 + 30 * 60 + 15);
    EXPECT_EQ(rows[0].opdate, epochSeconds(QDate(1999, 1, 1)));
}

TEST_F(CardSwipeTest, ThreeMinutesLaterRecordsAgainJustUnderDoesNot)
{
    m_clock.set(kDay, QTime(8, 30, 15, 0));
    ASSERT_EQ(swipe().kind, Kind::Recorded);

    // 2:59.999 later: the lower bound truncates to 08:30:14, so the first row still counts.
    m_clock.advanceMSecs(179'999);
    EXPECT_EQ(swipe().kind, Kind::AlreadyRecorded);

    m_clock.set(kDay, QTime(8, 33, 15, 0));
    const SwipeOutcome again = swipe();
    EXPECT_EQ(again.kind, Kind::Recorded);
    EXPECT_EQ(again.statusText, QStringLiteral("【1001 张三】 2026-03-02 08:33 刷卡成功！"));
    EXPECT_EQ(m_raw->rows("1001").size(), 2u);
}

TEST_F(CardSwipeTest, WindowIsStrictAtBothEndsAndCountsFutureRecords)
{
    const QDateTime now(kDay, QTime(12, 0, 0), Qt::UTC);
    struct Case
    {
        int offset;
        Kind expected;
    };
    for (const Case c : {Case{-180, Kind::Recorded}, Case{-179, Kind::AlreadyRecorded},
                         Case{179, Kind::AlreadyRecorded}, Case{180, Kind::Recorded}}) {
        SCOPED_TRACE(c.offset);
        m_raw->exec("DELETE FROM sgdjb");
        addRecord("1001", "张三", now.addSecs(c.offset));
        m_clock.set(now);
        EXPECT_EQ(swipe().kind, c.expected);
    }
}

TEST_F(CardSwipeTest, MatchesByNumberOnlyAndShowsTheFoundRow)
{
    addRecord("1001", "改名", QDateTime(kDay, QTime(8, 29, 0), Qt::UTC));
    addRecord("10011", "张三", QDateTime(kDay, QTime(8, 30, 0), Qt::UTC));
    const SwipeOutcome outcome = swipe();
    EXPECT_EQ(outcome.kind, Kind::AlreadyRecorded);
    EXPECT_EQ(outcome.statusText, QStringLiteral("【1001 改名】 2026-03-02 08:29 已刷卡"));
}

TEST_F(CardSwipeTest, AnotherEmployeeRecordsWithinTheFirstOnesWindow)
{
    ASSERT_EQ(swipe().kind, Kind::Recorded);
    select("1002");
    m_clock.advanceSecs(10);
    const SwipeOutcome other = swipe();
    EXPECT_EQ(other.kind, Kind::Recorded);
    EXPECT_EQ(other.statusText, QStringLiteral("【1002 李四】 2026-03-02 08:30 刷卡成功！"));
    EXPECT_EQ(m_raw->count(), 2);
}

TEST_F(CardSwipeTest, SwipeAcrossMidnightIsADuplicate)
{
    m_clock.set(kDay, QTime(23, 59, 0));
    ASSERT_EQ(swipe().kind, Kind::Recorded);
    m_clock.set(kDay.addDays(1), QTime(0, 1, 0));
    const SwipeOutcome next = swipe();
    EXPECT_EQ(next.kind, Kind::AlreadyRecorded);
    EXPECT_EQ(next.statusText, QStringLiteral("【1001 张三】 2026-03-02 23:59 已刷卡"));
    EXPECT_EQ(m_raw->count(), 1);
}

TEST_F(CardSwipeTest, EachStepReadsTheClockAnew)
{
    // Reads: 23:59:00 (d1), 23:59:25 (d2), 23:59:50 (d), 00:00:15 next day (t), 00:00:40 (text).
    SteppingClock clock(QDateTime(kDay, QTime(23, 59, 0), Qt::UTC), 25);
    const SwipeOutcome outcome = CardSwipe::run(&m_employees, m_records, clock);
    EXPECT_EQ(clock.reads(), 5);
    EXPECT_EQ(outcome.statusText, QStringLiteral("【1001 张三】 2026-03-03 00:00 刷卡成功！"));
    const std::vector<StoredRow> rows = m_raw->rows("1001");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].d, epochSeconds(kDay));
    EXPECT_EQ(rows[0].t, 15);
}

TEST_F(CardSwipeTest, FailureBeforeTheInsertWritesNothingAndReleasesTheDatabase)
{
    for (int failOn = 1; failOn <= 4; ++failOn) {
        SCOPED_TRACE(failOn);
        SteppingClock clock(QDateTime(kDay, QTime(9, 0), Qt::UTC), 1, failOn);
        const SwipeOutcome outcome = CardSwipe::run(&m_employees, m_records, clock);
        EXPECT_EQ(outcome.kind, Kind::Nothing);
        EXPECT_TRUE(outcome.statusText.isEmpty());
        EXPECT_FALSE(m_records.isOpen());
        EXPECT_EQ(m_raw->count(), 0);
        EXPECT_TRUE(m_raw->writable());
    }
}

TEST_F(CardSwipeTest, FailureWhileComposingTheTextKeepsTheRecord)
{
    SteppingClock clock(QDateTime(kDay, QTime(9, 0), Qt::UTC), 1, 5);
    const SwipeOutcome outcome = CardSwipe::run(&m_employees, m_records, clock);
    EXPECT_EQ(outcome.kind, Kind::Nothing);
    EXPECT_TRUE(outcome.statusText.isEmpty());
    EXPECT_FALSE(m_records.isOpen());
    EXPECT_EQ(m_raw->count(), 1);
    EXPECT_TRUE(m_raw->writable());
}

TEST_F(CardSwipeTest, NoCurrentEmployeeOrEmptyNumberRecordsNothing)
{
    EXPECT_EQ(CardSwipe::run(nullptr, m_records, m_clock).kind, Kind::Nothing);

    select("");
    EXPECT_EQ(swipe().kind, Kind::Nothing);

    m_employees.close();
    EXPECT_EQ(swipe().kind, Kind::Nothing);

    m_raw->exec("DELETE FROM employ");
    m_employees.open();
    ASSERT_TRUE(m_employees.isEmpty());
    const SwipeOutcome outcome = swipe();
    EXPECT_EQ(outcome.kind, Kind::Nothing);
    EXPECT_TRUE(outcome.statusText.isEmpty());
    EXPECT_EQ(m_raw->count(), 0);
}

TEST_F(CardSwipeTest, DuplicateTestIsServedByTheIndex)
{
    // Without the index every swipe scans the whole record table, which grows for years.
    const std::string sql = SqlStatementPlan(SwipeWindow::duplicateTest()).rewritten().toStdString();
    const std::string plan = m_raw->queryPlan(sql);
    EXPECT_NE(plan.find("USING INDEX sgdjb_num_instant (num=? AND <expr>>? AND <expr><?)"), std::string::npos)
        << plan;
}

TEST_F(CardSwipeTest, UnreachableDatabaseChangesNothing)
{
    const QString missing = m_dir.filePath(QStringLiteral("gone/kq.mdb"));
    AdoConnection elsewhere;
    elsewhere.setConnectionString(connectionString(missing));
    AdoQuery records(QStringLiteral("RecordQry"));
    records.setConnection(&elsewhere);

    const SwipeOutcome outcome = CardSwipe::run(&m_employees, records, m_clock);
    EXPECT_EQ(outcome.kind, Kind::Nothing);
    EXPECT_TRUE(outcome.statusText.isEmpty());
    EXPECT_FALSE(records.isOpen());
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_EQ(m_raw->count(), 0);

    AdoQuery unbound(QStringLiteral("RecordQry"));
    EXPECT_EQ(CardSwipe::run(&m_employees, unbound, m_clock).kind, Kind::Nothing);
    EXPECT_FALSE(unbound.isOpen());
}

} // namespace
