// The terminal against a PostgreSQL server: one swipe next to the same work done with bare
// libpq calls, eight terminal processes swiping at once (distinct employees, then one
// employee), and loading 100,000 employees into the list. Each run starts its own
// throwaway server on a Unix socket, as the tests do.
//
// Run with --terminal ... the program is one of the eight terminals (used by itself).
// TAVELO_BENCH_SECONDS sets how long the eight run (30 by default).

#include "attendance/CardSwipe.h"
#include "attendance/SwipeWindow.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/DatabaseTarget.h"
#include "query/Statements.h"
#include "support/ManualClock.h"
#include "support/PgTestServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

const QString kKqdb = QStringLiteral(TAVELO_BIN_DIR "/kqdb");
constexpr int kEmployees = 1000;
constexpr int kTerminals = 8;
// Benchmarked swipes come after this, seven minutes apart per employee, so that each one
// records.
const QDateTime kSwipeStart(QDate(2026, 3, 2), QTime(7, 0), Qt::UTC);
constexpr int kRoundSeconds = 7 * 60;

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::exit(1);
}

// One server for the whole run, with a database per purpose made by kqdb create.
class ServerEnvironment
{
public:
    static ServerEnvironment& instance()
    {
        static ServerEnvironment environment;
        return environment;
    }

    PgTestServer& server() { return *m_server; }

    // A fresh database with `employees` generated employees and no records.
    QString database(const QString& name, int employees)
    {
        m_server->createDatabase(name);
        QProcess kqdb;
        kqdb.start(kKqdb, {QStringLiteral("create"), m_server->conninfo(name), QStringLiteral("--employees"),
                           QString::number(employees)});
        if (!kqdb.waitForFinished(600000) || kqdb.exitCode() != 0)
            fail(QStringLiteral("kqdb create %1: %2")
                     .arg(name, QString::fromLocal8Bit(kqdb.readAllStandardError())));
        return m_server->conninfo(name);
    }

private:
    ServerEnvironment() : m_server(std::make_unique<PgTestServer>()) {}
    std::unique_ptr<PgTestServer> m_server;
};

QString connectionString(const QString& conninfo)
{
    return DatabaseTarget::parse(conninfo).connectionString();
}

// The window's two queries on one connection, the employee query loaded.
struct Terminal
{
    explicit Terminal(const QString& conninfo)
    {
        connection.setConnectionString(connectionString(conninfo));
        employees.setConnection(&connection);
        records.setConnection(&connection);
        if (CommFunc::OpenTableQuery(&employees, Statements::kEmployTable, QString(), QString()) < 0)
            fail(QStringLiteral("the employee list did not load"));
    }
    bool select(const QString& num)
    {
        return employees.locate(Statements::kNum, num) && employees.fieldAsString(Statements::kNum) == num;
    }

    AdoConnection connection;
    AdoQuery employees{QStringLiteral("YgQry")};
    AdoQuery records{QStringLiteral("RecordQry")};
};

QString firstNumbers(const QString& conninfo, int count, QStringList* names = nullptr)
{
    Terminal terminal(conninfo);
    QStringList numbers;
    for (int row = 0; row < count && row < terminal.employees.recordCount(); ++row) {
        terminal.employees.setRecNo(row);
        numbers.append(terminal.employees.fieldAsString(Statements::kNum));
        if (names)
            names->append(terminal.employees.fieldAsString(Statements::kName));
    }
    return numbers.join(u',');
}

void BM_TerminalSwipe(benchmark::State& state)
{
    static const QString conninfo =
        ServerEnvironment::instance().database(QStringLiteral("swipe"), kEmployees);
    static const QStringList numbers = firstNumbers(conninfo, kEmployees).split(u',');
    static int round = 0;
    Terminal terminal(conninfo);
    ManualClock clock(kSwipeStart);
    int employee = 0;
    for (auto _ : state) {
        if (employee == 0)
            clock.set(kSwipeStart.addSecs(qint64(round++) * kRoundSeconds));
        state.PauseTiming();
        const bool found = terminal.select(numbers.at(employee));
        state.ResumeTiming();
        if (!found) {
            state.SkipWithError("employee not found");
            return;
        }
        if (CardSwipe::run(&terminal.employees, terminal.records, clock).kind !=
            SwipeOutcome::Kind::Recorded) {
            state.SkipWithError("swipe did not record");
            return;
        }
        employee = (employee + 1) % int(numbers.size());
    }
}
BENCHMARK(BM_TerminalSwipe)->Unit(benchmark::kMicrosecond)->UseRealTime();

std::string text(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

// The same duplicate test and insert in one transaction, with prepared statements, the
// floor any provider on libpq stands on. With range(0) = 1 it also takes the
// transaction-scoped advisory lock on the employee number first.
void BM_LibpqFloor(benchmark::State& state)
{
    static const QString conninfo =
        ServerEnvironment::instance().database(QStringLiteral("floor"), kEmployees);
    static QStringList names;
    static const QStringList numbers = firstNumbers(conninfo, kEmployees, &names).split(u',');
    static int round = 0;
    const bool lock = state.range(0) != 0;

    PGconn* conn = PQconnectdb(conninfo.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK)
        fail(QString::fromUtf8(PQerrorMessage(conn)));
    const auto ok = [conn](PGresult* result, const char* what) {
        const ExecStatusType status = PQresultStatus(result);
        PQclear(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            fail(QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(PQerrorMessage(conn))));
    };
    ok(PQprepare(conn, "lock", "SELECT pg_advisory_xact_lock(hashtext($1))", 1, nullptr), "prepare lock");
    ok(PQprepare(conn, "select",
                 "SELECT num, name, d, t, opdate FROM sgdjb WHERE num = $1 AND d + t > $2 AND d + t < $3", 3,
                 nullptr),
       "prepare select");
    ok(PQprepare(conn, "insert", "INSERT INTO sgdjb (num, name, d, t, opdate) VALUES ($1, $2, $3, $4, $5)", 5,
                 nullptr),
       "prepare insert");

    int employee = 0;
    QDateTime now = kSwipeStart;
    for (auto _ : state) {
        if (employee == 0)
            now = kSwipeStart.addSecs(qint64(round++) * kRoundSeconds);
        const std::string num = numbers.at(employee).toStdString();
        const std::string name = names.at(employee).toStdString();
        const std::string from = text(now.addSecs(-SwipeWindow::kSeconds));
        const std::string to = text(now.addSecs(SwipeWindow::kSeconds));
        const std::string day = now.date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
        const std::string time = now.time().toString(QStringLiteral("HH:mm:ss")).toStdString();
        ok(PQexec(conn, "BEGIN"), "begin");
        if (lock) {
            const char* lockParams[] = {num.c_str()};
            ok(PQexecPrepared(conn, "lock", 1, lockParams, nullptr, nullptr, 0), "lock");
        }
        const char* selectParams[] = {num.c_str(), from.c_str(), to.c_str()};
        PGresult* found = PQexecPrepared(conn, "select", 3, selectParams, nullptr, nullptr, 0);
        if (PQresultStatus(found) != PGRES_TUPLES_OK || PQntuples(found) != 0) {
            PQclear(found);
            state.SkipWithError("duplicate test failed or found a row");
            break;
        }
        PQclear(found);
        const char* insertParams[] = {num.c_str(), name.c_str(), day.c_str(), time.c_str(), "1999-01-01"};
        ok(PQexecPrepared(conn, "insert", 5, insertParams, nullptr, nullptr, 0), "insert");
        ok(PQexec(conn, "COMMIT"), "commit");
        employee = (employee + 1) % int(numbers.size());
    }
    PQfinish(conn);
}
BENCHMARK(BM_LibpqFloor)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The whole swipe as one pipeline with bare libpq: BEGIN, the lock timeout, the
// employee's lock, the duplicate test with the insert, reading which server commits (as
// the terminal does, to keep the swipes that server confirmed), and COMMIT. With `named`,
// the lock and the swipe are statements prepared once per session under names (prepare
// them with prepareFloor), which a transaction pooler cannot carry; without, unnamed
// ones, as the terminal sends them. Parameters: the number, the name and the instant as
// ISO text. True when the swipe was recorded.
const char* const kFloorLock = "SELECT pg_advisory_xact_lock(1415673393, hashtext($1))";
const char* const kFloorSwipe =
    "WITH existing AS (SELECT num FROM sgdjb WHERE num = $1 AND d + t > $3::timestamp - interval '180 s' "
    "AND d + t < $3::timestamp + interval '180 s' LIMIT 1), "
    "inserted AS (INSERT INTO sgdjb (num, name, d, t, opdate) SELECT $1, $2, $3::timestamp::date, "
    "$3::timestamp::time, '1999-01-01' WHERE NOT EXISTS (SELECT 1 FROM existing)) "
    "SELECT concat_ws(' ', pg_postmaster_start_time()::text, CASE WHEN pg_is_in_recovery() THEN 'standby' "
    "ELSE 'primary' END, COALESCE(inet_server_addr()::text, 'local'), COALESCE(inet_server_port()::text, "
    "'-'), CASE WHEN has_function_privilege('pg_control_checkpoint()', 'EXECUTE') THEN 'timeline ' || "
    "(pg_control_checkpoint()).timeline_id::text END), e.num FROM (SELECT) AS one LEFT JOIN existing e ON "
    "true";

void prepareFloor(PGconn* conn)
{
    for (const auto& [name, sql, count] : {std::tuple{"lock", kFloorLock, 1}, {"swipe", kFloorSwipe, 3}}) {
        PGresult* result = PQprepare(conn, name, sql, count, nullptr);
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        PQclear(result);
        if (!ok)
            fail(QStringLiteral("prepare %1: %2")
                     .arg(QLatin1String(name), QString::fromUtf8(PQerrorMessage(conn))));
    }
}

bool floorSwipe(PGconn* conn, const char* const params[3], bool named)
{
    PQenterPipelineMode(conn);
    // READ COMMITTED whatever the server's default, as the duplicate test needs: under a
    // snapshot taken before the lock was granted it would miss the row it waited for.
    PQsendQueryParams(conn, "BEGIN ISOLATION LEVEL READ COMMITTED", 0, nullptr, nullptr, nullptr, nullptr, 0);
    PQsendQueryParams(conn, "SET LOCAL lock_timeout = 200", 0, nullptr, nullptr, nullptr, nullptr, 0);
    if (named) {
        PQsendQueryPrepared(conn, "lock", 1, params, nullptr, nullptr, 0);
        PQsendQueryPrepared(conn, "swipe", 3, params, nullptr, nullptr, 0);
    } else {
        PQsendQueryParams(conn, kFloorLock, 1, nullptr, params, nullptr, nullptr, 0);
        PQsendQueryParams(conn, kFloorSwipe, 3, nullptr, params, nullptr, nullptr, 0);
    }
    PQsendQueryParams(conn, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0);
    PQpipelineSync(conn);
    // The statements answer in order, each one's results ended by a null; the swipe's
    // (the fourth) is one row, with the server and no duplicate found.
    bool recorded = true;
    int statement = 0;
    for (;;) {
        PGresult* result = PQgetResult(conn);
        if (!result) {
            ++statement;
            continue;
        }
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_PIPELINE_SYNC) {
            PQclear(result);
            break;
        }
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            recorded = false;
        if (statement == 3)
            recorded = recorded && PQntuples(result) == 1 && PQgetlength(result, 0, 0) > 0 &&
                       PQgetisnull(result, 0, 1);
        PQclear(result);
    }
    PQexitPipelineMode(conn);
    return recorded && statement == 5;
}

// The floor pipelined with unnamed statements (range(0) = 0), and with named ones
// (range(0) = 1), as the terminal sent them before: for the record, since only unnamed ones
// work through every kind of pooler.
void BM_LibpqPipelineFloor(benchmark::State& state)
{
    static const QString conninfo =
        ServerEnvironment::instance().database(QStringLiteral("pipeline"), kEmployees);
    static QStringList names;
    static const QStringList numbers = firstNumbers(conninfo, kEmployees, &names).split(u',');
    static int round = 0;
    const bool named = state.range(0) != 0;

    PGconn* conn = PQconnectdb(conninfo.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK)
        fail(QString::fromUtf8(PQerrorMessage(conn)));
    if (named)
        prepareFloor(conn);
    int employee = 0;
    QDateTime now = kSwipeStart;
    for (auto _ : state) {
        if (employee == 0)
            now = kSwipeStart.addSecs(qint64(round++) * kRoundSeconds);
        const std::string num = numbers.at(employee).toStdString();
        const std::string name = names.at(employee).toStdString();
        const std::string at = text(now);
        const char* params[] = {num.c_str(), name.c_str(), at.c_str()};
        if (!floorSwipe(conn, params, named)) {
            state.SkipWithError(qPrintable(QStringLiteral("the pipelined swipe did not record: %1")
                                               .arg(QString::fromUtf8(PQerrorMessage(conn)))));
            break;
        }
        employee = (employee + 1) % int(numbers.size());
    }
    PQfinish(conn);
}
BENCHMARK(BM_LibpqPipelineFloor)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The CPU time a process has run, in ns (the scheduler's own count, finer than the ticks of
// /proc/PID/stat); -1 when it cannot be read.
qint64 processCpuNs(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const qint64 ns = file.readLine().split(' ').value(0).toLongLong(&ok);
    return ok ? ns : -1;
}

// The terminal's swipe (CardSwipe, as the window's server terminal runs it, without keeping
// the confirmed swipe in the local store: see bench_server_offline for that) and the
// unnamed pipelined floor above, one after the other in the same loop on the same server,
// so that both see the same load. Both do the same server work. `ratio` is the terminal's
// wall time over the floor's (`median_ratio` the same of the middle swipes, which a burst
// of another process's work moves less); on a loaded machine the wall times wander with the other
// processes, so the work is counted as well: each side's CPU in this process and in its
// server backend, per swipe, and `cpu_ratio`, the terminal's total over the floor's.
void BM_TerminalSwipeAgainstFloor(benchmark::State& state)
{
    static const QString conninfo =
        ServerEnvironment::instance().database(QStringLiteral("pair"), kEmployees);
    static QStringList names;
    static const QStringList numbers = firstNumbers(conninfo, kEmployees, &names).split(u',');
    static int round = 0;
    Terminal terminal(conninfo);
    PGconn* conn = PQconnectdb(conninfo.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK)
        fail(QString::fromUtf8(PQerrorMessage(conn)));
    // The server backend of each: the terminal's is the other session on this database.
    PGresult* pids =
        PQexec(conn, "SELECT pg_backend_pid(), (SELECT pid FROM pg_stat_activity WHERE datname = "
                     "current_database() AND pid <> pg_backend_pid() AND backend_type = 'client "
                     "backend')");
    const qint64 floorBackend = PQntuples(pids) == 1 ? QByteArray(PQgetvalue(pids, 0, 0)).toLongLong() : 0;
    const qint64 terminalBackend = PQntuples(pids) == 1 ? QByteArray(PQgetvalue(pids, 0, 1)).toLongLong() : 0;
    PQclear(pids);
    if (processCpuNs(floorBackend) < 0 || processCpuNs(terminalBackend) < 0)
        fail(QStringLiteral("the server backends' CPU cannot be read"));
    ManualClock clock(kSwipeStart);
    int employee = 0;
    qint64 terminalNs = 0;
    qint64 floorNs = 0;
    qint64 terminalServerNs = -processCpuNs(terminalBackend);
    qint64 floorServerNs = -processCpuNs(floorBackend);
    std::vector<qint64> terminalTimes;
    std::vector<qint64> floorTimes;
    qint64 terminalCpuNs = 0;
    qint64 floorCpuNs = 0;
    const auto cpuNs = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    QElapsedTimer timer;
    for (auto _ : state) {
        if (employee == 0)
            clock.set(kSwipeStart.addSecs(qint64(round++) * kRoundSeconds));
        // The floor swipes the same employee 3 h 30 min later: both record.
        const std::string num = numbers.at(employee).toStdString();
        const std::string name = names.at(employee).toStdString();
        const std::string at = text(clock.now().addSecs(3 * 3600 + 1800));
        if (!terminal.select(numbers.at(employee))) {
            state.SkipWithError("employee not found");
            break;
        }
        const auto swipeTerminal = [&] {
            const qint64 cpu = cpuNs();
            timer.start();
            const SwipeOutcome outcome = CardSwipe::run(&terminal.employees, terminal.records, clock);
            terminalTimes.push_back(timer.nsecsElapsed());
            terminalNs += terminalTimes.back();
            terminalCpuNs += cpuNs() - cpu;
            return outcome.kind == SwipeOutcome::Kind::Recorded && !outcome.server.isEmpty();
        };
        const auto swipeFloor = [&] {
            const char* params[] = {num.c_str(), name.c_str(), at.c_str()};
            const qint64 cpu = cpuNs();
            timer.start();
            const bool recorded = floorSwipe(conn, params, false);
            floorTimes.push_back(timer.nsecsElapsed());
            floorNs += floorTimes.back();
            floorCpuNs += cpuNs() - cpu;
            return recorded;
        };
        // Each goes first every other time, so that neither always follows the other's commit.
        const bool terminalFirst = terminalTimes.size() % 2 == 0;
        const bool terminalRecorded = terminalFirst ? swipeTerminal() : true;
        const bool floorRecorded = swipeFloor();
        if (!terminalRecorded || !(terminalFirst || swipeTerminal())) {
            state.SkipWithError("swipe did not record");
            break;
        }
        if (!floorRecorded) {
            state.SkipWithError("the floor's swipe did not record");
            break;
        }
        employee = (employee + 1) % int(numbers.size());
    }
    terminalServerNs += processCpuNs(terminalBackend);
    floorServerNs += processCpuNs(floorBackend);
    PQfinish(conn);
    const double n = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["terminal_us"] = double(terminalNs) / n / 1000;
    state.counters["floor_us"] = double(floorNs) / n / 1000;
    state.counters["ratio"] = floorNs > 0 ? double(terminalNs) / double(floorNs) : 0;
    const auto median = [](std::vector<qint64>& times) {
        if (times.empty())
            return 0.0;
        std::nth_element(times.begin(), times.begin() + qsizetype(times.size() / 2), times.end());
        return double(times[times.size() / 2]);
    };
    const double floorMedian = median(floorTimes);
    state.counters["median_ratio"] = floorMedian > 0 ? median(terminalTimes) / floorMedian : 0;
    state.counters["terminal_cpu_us"] = double(terminalCpuNs) / n / 1000;
    state.counters["floor_cpu_us"] = double(floorCpuNs) / n / 1000;
    state.counters["terminal_server_cpu_us"] = double(terminalServerNs) / n / 1000;
    state.counters["floor_server_cpu_us"] = double(floorServerNs) / n / 1000;
    const qint64 floorWork = floorCpuNs + floorServerNs;
    state.counters["cpu_ratio"] =
        floorWork > 0 ? double(terminalCpuNs + terminalServerNs) / double(floorWork) : 0;
}
BENCHMARK(BM_TerminalSwipeAgainstFloor)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

// kqdb swipe as a process, against bare libpq programs doing the same, run alternately:
// range(0) employees on the server. Wall time and CPU (user + system) of each process; the
// cost of kqdb swipe must not grow with the list.
//   bare:       the server's work alone (bench_bare_swipe);
//   bare_keep:  the same, and the confirmed swipe kept in an SQLite store and a synced line
//               beside it, as kqdb keeps it (bench_bare_swipe_keep): the like-for-like floor;
//   kqdb_start: kqdb --version, what starting the program costs before any work.
// Each kqdb and bare_keep keeps its swipes in a state folder of this run, not the user's.
void BM_KqdbSwipe(benchmark::State& state)
{
    const int employees = int(state.range(0));
    const QString conninfo =
        ServerEnvironment::instance().database(QStringLiteral("kqdbswipe%1").arg(employees), employees);
    const QString num = ServerEnvironment::instance().server().psql(
        QStringLiteral("SELECT num FROM employ ORDER BY num OFFSET %1 LIMIT 1").arg(employees / 2),
        QStringLiteral("kqdbswipe%1").arg(employees));
    const QString bare = QStringLiteral(TAVELO_BIN_DIR "/bench/bench_bare_swipe");
    const QString bareKeep = QStringLiteral(TAVELO_BIN_DIR "/bench/bench_bare_swipe_keep");
    QTemporaryDir stateHome;
    if (!stateHome.isValid())
        fail(QStringLiteral("no temporary folder"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_STATE_HOME"), stateHome.path());
    const QString bareStore = stateHome.filePath(QStringLiteral("bare-store.sqlite"));
    const auto timed = [&environment](const QString& program, const QStringList& args, qint64* wallNs,
                                      qint64* cpuUs) {
        rusage before{};
        getrusage(RUSAGE_CHILDREN, &before);
        QElapsedTimer wall;
        wall.start();
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, args);
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            fail(QStringLiteral("%1: %2").arg(program,
                                              QString::fromLocal8Bit(process.readAllStandardError())));
        *wallNs += wall.nsecsElapsed();
        rusage after{};
        getrusage(RUSAGE_CHILDREN, &after);
        const auto us = [](const timeval& t) { return qint64(t.tv_sec) * 1000000 + t.tv_usec; };
        *cpuUs += us(after.ru_utime) - us(before.ru_utime) + us(after.ru_stime) - us(before.ru_stime);
    };
    const auto at = [](const QDateTime& instant) {
        return instant.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    qint64 kqdbNs = 0, bareNs = 0, keepNs = 0, startNs = 0;
    qint64 kqdbCpu = 0, bareCpu = 0, keepCpu = 0, startCpu = 0;
    int round = 0;
    for (auto _ : state) {
        const QDateTime instant = kSwipeStart.addSecs(qint64(round++) * 3 * kRoundSeconds);
        timed(kKqdb, {QStringLiteral("swipe"), conninfo, num, QStringLiteral("--now"), at(instant)}, &kqdbNs,
              &kqdbCpu);
        timed(bare, {conninfo, num, at(instant.addSecs(kRoundSeconds))}, &bareNs, &bareCpu);
        timed(bareKeep, {conninfo, num, at(instant.addSecs(2 * kRoundSeconds)), bareStore}, &keepNs,
              &keepCpu);
        timed(kKqdb, {QStringLiteral("--version")}, &startNs, &startCpu);
    }
    const double n = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["kqdb_ms"] = double(kqdbNs) / n / 1e6;
    state.counters["bare_ms"] = double(bareNs) / n / 1e6;
    state.counters["bare_keep_ms"] = double(keepNs) / n / 1e6;
    state.counters["kqdb_cpu_ms"] = double(kqdbCpu) / n / 1000;
    state.counters["bare_cpu_ms"] = double(bareCpu) / n / 1000;
    state.counters["bare_keep_cpu_ms"] = double(keepCpu) / n / 1000;
    state.counters["kqdb_start_cpu_ms"] = double(startCpu) / n / 1000;
    state.counters["cpu_ratio"] = bareCpu > 0 ? double(kqdbCpu) / double(bareCpu) : 0;
    state.counters["cpu_ratio_keep"] = keepCpu > 0 ? double(kqdbCpu) / double(keepCpu) : 0;
    state.counters["start_ratio"] = bareCpu > 0 ? double(startCpu) / double(bareCpu) : 0;
}
BENCHMARK(BM_KqdbSwipe)
    ->Arg(1000)
    ->Arg(1000000)
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One terminal process: swipes `num` in rounds seven minutes apart for `seconds` and
// prints one line per swipe: R (recorded) or A (already recorded) and the microseconds.
int runTerminal(const QString& conninfo, const QString& num, int seconds)
{
    Terminal terminal(conninfo);
    if (!terminal.select(num))
        fail(QStringLiteral("no employee %1").arg(num));
    ManualClock clock(kSwipeStart);
    QElapsedTimer total;
    total.start();
    QElapsedTimer one;
    std::string out;
    while (total.elapsed() < qint64(seconds) * 1000) {
        one.start();
        const SwipeOutcome outcome = CardSwipe::run(&terminal.employees, terminal.records, clock);
        const qint64 micros = one.nsecsElapsed() / 1000;
        char kind = 'N';
        if (outcome.kind == SwipeOutcome::Kind::Recorded)
            kind = 'R';
        else if (outcome.kind == SwipeOutcome::Kind::AlreadyRecorded)
            kind = 'A';
        out += kind;
        out += ' ' + std::to_string(micros) + '\n';
        clock.advanceSecs(kRoundSeconds);
    }
    std::fputs(out.c_str(), stdout);
    return 0;
}

// range(0) = 0: each terminal its own employee; 1: all eight on one employee.
void BM_EightTerminals(benchmark::State& state)
{
    const bool oneEmployee = state.range(0) != 0;
    const int seconds = qEnvironmentVariableIsSet("TAVELO_BENCH_SECONDS")
                            ? qEnvironmentVariableIntValue("TAVELO_BENCH_SECONDS")
                            : 30;
    static int run = 0;
    ServerEnvironment& environment = ServerEnvironment::instance();
    for (auto _ : state) {
        const QString database = QStringLiteral("eight%1").arg(run++);
        const QString conninfo = environment.database(database, kEmployees);
        const QStringList numbers = firstNumbers(conninfo, kTerminals).split(u',');

        std::vector<std::unique_ptr<QProcess>> terminals;
        for (int i = 0; i < kTerminals; ++i) {
            auto process = std::make_unique<QProcess>();
            process->start(QCoreApplication::applicationFilePath(),
                           {QStringLiteral("--terminal"), conninfo, numbers.at(oneEmployee ? 0 : i),
                            QString::number(seconds)});
            terminals.push_back(std::move(process));
        }
        std::vector<qint64> latencies;
        qint64 recorded = 0;
        qint64 failed = 0;
        for (auto& process : terminals) {
            if (!process->waitForFinished((seconds + 120) * 1000) || process->exitCode() != 0)
                fail(QStringLiteral("a terminal failed: %1")
                         .arg(QString::fromLocal8Bit(process->readAllStandardError())));
            for (const QByteArray& line : process->readAllStandardOutput().split('\n')) {
                if (line.size() < 3)
                    continue;
                latencies.push_back(line.mid(2).toLongLong());
                recorded += line.at(0) == 'R';
                failed += line.at(0) == 'N';
            }
        }
        std::sort(latencies.begin(), latencies.end());
        const qint64 rows =
            environment.server().psql(QStringLiteral("SELECT count(*) FROM sgdjb"), database).toLongLong();
        // Rows of one employee strictly within three minutes of the one before.
        const qint64 duplicates =
            environment.server()
                .psql(
                    QStringLiteral("SELECT count(*) FROM (SELECT (d + t) - lag(d + t) OVER (PARTITION BY num "
                                   "ORDER BY d + t) AS gap FROM sgdjb) g WHERE gap < interval '%1 seconds'")
                        .arg(SwipeWindow::kSeconds),
                    database)
                .toLongLong();
        state.counters["swipes_per_s"] = double(latencies.size()) / seconds;
        state.counters["recorded"] = double(recorded);
        state.counters["rows"] = double(rows);
        state.counters["failed"] = double(failed);
        state.counters["p50_ms"] = latencies.empty() ? 0 : double(latencies[latencies.size() / 2]) / 1000;
        state.counters["p99_ms"] =
            latencies.empty() ? 0 : double(latencies[latencies.size() * 99 / 100]) / 1000;
        state.counters["duplicates"] = double(duplicates);
        if (duplicates != 0 || rows != recorded)
            state.SkipWithError("duplicates, or rows that no terminal reported");
    }
}
BENCHMARK(BM_EightTerminals)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The show sequence's table load: every employee from the server into the list's query.
void BM_LoadEmployees(benchmark::State& state)
{
    const int count = int(state.range(0));
    static const QString conninfo =
        ServerEnvironment::instance().database(QStringLiteral("load%1").arg(count), count);
    AdoConnection connection;
    connection.setConnectionString(connectionString(conninfo));
    AdoQuery employees(QStringLiteral("YgQry"));
    employees.setConnection(&connection);
    connection.open();
    for (auto _ : state) {
        if (CommFunc::OpenTableQuery(&employees, Statements::kEmployTable, QString(), QString()) != count) {
            state.SkipWithError("not every employee loaded");
            return;
        }
        state.PauseTiming();
        employees.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadEmployees)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// What reading the list costs in memory beside the rows kept: every employee read one row
// at a time (openForEach keeps none), the heap in use sampled at each row. Read as the
// rows come, the heap above what it was before stays the same at 10,000 and 100,000
// employees; read from a result held whole, it grows with the list.
void BM_ReadEmployeesHeap(benchmark::State& state)
{
    const int count = int(state.range(0));
    const QString conninfo =
        ServerEnvironment::instance().database(QStringLiteral("heap%1").arg(count), count);
    AdoConnection connection;
    connection.setConnectionString(connectionString(conninfo));
    AdoQuery employees(QStringLiteral("YgQry"));
    employees.setConnection(&connection);
    employees.sqlAdd(QStringLiteral("SELECT * FROM ") + Statements::kEmployTable);
    connection.open();
    size_t peak = 0;
    size_t before = 0;
    for (auto _ : state) {
        before = mallinfo2().uordblks;
        peak = before;
        const qint64 rows = employees.openForEach([&] { peak = std::max(peak, mallinfo2().uordblks); });
        if (rows != count) {
            state.SkipWithError("not every employee read");
            return;
        }
    }
    state.counters["heap_above_kb"] = double(peak - before) / 1024;
}
BENCHMARK(BM_ReadEmployeesHeap)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && std::strcmp(argv[1], "--terminal") == 0)
        return runTerminal(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                           std::atoi(argv[4]));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
