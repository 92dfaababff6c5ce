// One card swipe (duplicate test, insert, commit) against record tables of different
// sizes, with the write-ahead log and with the rollback journal, with and without another
// program's read transaction open on the file, and the same work done with bare SQLite
// calls for comparison.

#include "attendance/CardSwipe.h"
#include "attendance/SwipeWindow.h"
#include "interchange/DevSchema.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/SqlStatementPlan.h"
#include "query/Statements.h"
#include "support/ManualClock.h"
#include "support/RawRecords.h"

#include <QDate>
#include <QFile>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kEmployees = 1000;
const QDate kEpoch(1970, 1, 1);
// Generated records end before this; every benchmarked swipe comes after it.
const QDateTime kSwipeStart(QDate(2026, 3, 2), QTime(7, 0), Qt::UTC);

qint64 seconds(const QDateTime& at)
{
    return kEpoch.daysTo(at.date()) * 86400 + at.time().msecsSinceStartOfDay() / 1000;
}

using RawRecords::check;

QString swipedNumber()
{
    return DevSchema::generatedEmployees(1).first().num;
}

// A database in /tmp with `rows` records spread over kEmployees employees, one swipe every
// ten minutes per employee going back from kSwipeStart. Built once per size and run.
QString database(int rows)
{
    static std::map<int, QString> built;
    if (auto it = built.find(rows); it != built.end())
        return it->second;

    const QString path = QStringLiteral("/tmp/tavelo_bench_swipe_%1_%2.db").arg(rows).arg(qint64(getpid()));
    QFile::remove(path);
    const QList<DevSchema::Employee> employees = DevSchema::generatedEmployees(kEmployees);
    QString error;
    if (!DevSchema::createDatabase(path, employees, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::abort();
    }

    const qint64 last = seconds(kSwipeStart) - 3600;
    RawRecords::fill(
        path, employees, rows,
        [&](int i) {
            const int employee = i % kEmployees;
            return RawRecords::Swipe{employee, last - qint64(i / kEmployees) * 600 - qint64(employee)};
        },
        "COMMIT; ANALYZE");
    built[rows] = path;
    return path;
}

// Where the next swipe on a database may happen: benchmark runs repeat, and every swipe
// must come after all earlier ones to record.
qint64& nextSwipe(const QString& path)
{
    static std::map<QString, qint64> next;
    return next.try_emplace(path, seconds(kSwipeStart)).first->second;
}

std::string pragma(sqlite3* db, const char* name)
{
    sqlite3_stmt* stmt = nullptr;
    check(sqlite3_prepare_v2(db, (std::string("PRAGMA ") + name).c_str(), -1, &stmt, nullptr), db, name);
    std::string value = sqlite3_step(stmt) == SQLITE_ROW
                            ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))
                            : std::string();
    sqlite3_finalize(stmt);
    return value;
}

// A setting of the provider's own connection, read through it.
std::string providerPragma(AdoConnection& connection, const char* name)
{
    AdoQuery query(QStringLiteral("PragmaQry"));
    query.setConnection(&connection);
    query.sqlAdd(QStringLiteral("PRAGMA %1").arg(QString::fromLatin1(name)));
    query.open();
    return query.fieldAsString(QString::fromLatin1(name)).toStdString();
}

std::string queryPlan(sqlite3* db, const std::string& sql)
{
    sqlite3_stmt* stmt = nullptr;
    check(sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &stmt, nullptr), db, "explain");
    std::string plan;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        plan += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)) + std::string("; ");
    sqlite3_finalize(stmt);
    return plan;
}

// Arguments: records in the file; 1 while another program holds a read transaction open on
// the file (a report, a shell left in the middle of a SELECT), 0 without. The terminal keeps
// the file with the write-ahead log; BM_BareSqlite below measures the rollback journal
// earlier versions kept (with a reader there a swipe fails after the file's 5 s bound).
void BM_Swipe(benchmark::State& state)
{
    const QString path = database(int(state.range(0)));
    const bool reader = state.range(1) != 0;
    AdoConnection connection;
    connection.setConnectionString(CommFunc::MakeJetConnStr(path));
    AdoQuery employees(QStringLiteral("YgQry"));
    AdoQuery records(QStringLiteral("RecordQry"));
    employees.setConnection(&connection);
    records.setConnection(&connection);
    employees.sqlAdd(QStringLiteral("SELECT * FROM employ"));
    employees.open();
    employees.locate(QStringLiteral("num"), swipedNumber());

    ManualClock clock(QDateTime(kEpoch, QTime(0, 0), Qt::UTC).addSecs(nextSwipe(path)));
    if (CardSwipe::run(&employees, records, clock).kind != SwipeOutcome::Kind::Recorded) {
        state.SkipWithError("first swipe did not record");
        return;
    }
    sqlite3* holder = nullptr;
    if (reader) {
        check(sqlite3_open_v2(path.toUtf8().constData(), &holder, SQLITE_OPEN_READONLY, nullptr), holder,
              "open");
        check(sqlite3_exec(holder, "BEGIN; SELECT count(*) FROM sgdjb", nullptr, nullptr, nullptr), holder,
              "read");
        clock.advanceSecs(SwipeWindow::kSeconds + 1);
        const SwipeOutcome held = CardSwipe::run(&employees, records, clock);
        if (held.kind != SwipeOutcome::Kind::Recorded) {
            // The rollback journal: the reader's lock holds the commit back until the
            // file's bound, and the swipe fails.
            state.SkipWithError(
                ("with a reader holding the file: " + held.errorMessage.toStdString()).c_str());
            sqlite3_close(holder);
            return;
        }
    }
    // The statement the provider prepares for the duplicate test.
    const std::string select = SqlStatementPlan(SwipeWindow::duplicateTest()).rewritten().toStdString();
    sqlite3* db = nullptr;
    check(sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
    state.SetLabel("journal=" + providerPragma(connection, "journal_mode") + " synchronous=" +
                   providerPragma(connection, "synchronous") + " plan: " + queryPlan(db, select));
    sqlite3_close(db);

    for (auto _ : state) {
        clock.advanceSecs(SwipeWindow::kSeconds + 1);
        if (CardSwipe::run(&employees, records, clock).kind != SwipeOutcome::Kind::Recorded) {
            state.SkipWithError("swipe did not record");
            return;
        }
    }
    nextSwipe(path) = seconds(clock.now()) + SwipeWindow::kSeconds + 1;
    if (holder) {
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
    }
}
BENCHMARK(BM_Swipe)
    ->ArgsProduct({{1000, 1000000}, {0, 1}})
    ->ArgNames({"records", "reader"})
    ->Unit(benchmark::kMicrosecond);

// The same duplicate test and insert in one write transaction with prepared statements and
// integer instants, on a connection as durable as the provider's: with the provider's
// journal mode (the write-ahead log, wal:1) or the rollback journal earlier versions kept
// (wal:0).
void BM_BareSqlite(benchmark::State& state)
{
    const QString path = database(int(state.range(0)));
    std::string journal, synchronous;
    {
        AdoConnection connection;
        connection.setConnectionString(CommFunc::MakeJetConnStr(path));
        journal = state.range(1) != 0 ? providerPragma(connection, "journal_mode") : std::string("delete");
        synchronous = providerPragma(connection, "synchronous");
    }
    sqlite3* db = nullptr;
    check(sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr), db, "open");
    check(sqlite3_exec(db, ("PRAGMA journal_mode=" + journal + "; PRAGMA synchronous=" + synchronous).c_str(),
                       nullptr, nullptr, nullptr),
          db, "pragmas");
    sqlite3_stmt* select = nullptr;
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db,
                             "SELECT num,name,D,T,opdate FROM sgdjb WHERE num=? AND ((D+T)>? AND (D+T)<?)",
                             -1, &select, nullptr),
          db, "prepare select");
    check(sqlite3_prepare_v2(db, "INSERT INTO sgdjb (num, name, D, T, opdate) VALUES (?, ?, ?, ?, ?)", -1,
                             &insert, nullptr),
          db, "prepare insert");
    state.SetLabel("journal=" + pragma(db, "journal_mode") + " synchronous=" + pragma(db, "synchronous"));

    const std::string num = swipedNumber().toStdString();
    const std::string name = DevSchema::generatedEmployees(1).first().name.toStdString();
    qint64 now = nextSwipe(path);
    for (auto _ : state) {
        now += SwipeWindow::kSeconds + 1;
        check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db, "begin");
        sqlite3_bind_text(select, 1, num.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int64(select, 2, now - SwipeWindow::kSeconds);
        sqlite3_bind_int64(select, 3, now + SwipeWindow::kSeconds);
        const int rc = sqlite3_step(select);
        check(rc, db, "select");
        sqlite3_reset(select);
        if (rc == SQLITE_ROW) {
            state.SkipWithError("duplicate found");
            break;
        }
        sqlite3_bind_text(insert, 1, num.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int64(insert, 3, now - now % 86400);
        sqlite3_bind_int64(insert, 4, now % 86400);
        sqlite3_bind_int64(insert, 5, 0);
        check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
        check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    }
    nextSwipe(path) = now + SwipeWindow::kSeconds + 1;
    sqlite3_finalize(select);
    sqlite3_finalize(insert);
    sqlite3_close(db);
}
BENCHMARK(BM_BareSqlite)
    ->ArgsProduct({{1000, 1000000}, {0, 1}})
    ->ArgNames({"records", "wal"})
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!qEnvironmentVariableIsSet("TAVELO_BENCH_KEEP"))
        for (int rows : {1000, 1000000})
            QFile::remove(QStringLiteral("/tmp/tavelo_bench_swipe_%1_%2.db").arg(rows).arg(qint64(getpid())));
    return 0;
}
