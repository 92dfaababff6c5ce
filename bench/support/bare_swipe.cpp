// The floor a swipe from the command line stands on: a program with nothing but libpq that
// looks one employee up by number and records a swipe at the given instant unless a row of
// that number lies within three minutes either side, in one transaction under the same
// lock timeout and advisory lock as the terminal's. No Qt, no C++ library: what `kqdb swipe`
// is measured against.
//
// Built twice. bench_bare_swipe does the server's work only. bench_bare_swipe_keep
// (BARE_SWIPE_KEEP, linked with SQLite too) also does what kqdb does after the server
// confirmed a swipe: asks in the same transaction which server committed it, and keeps the
// swipe in a store of its own (an SQLite file in write-ahead mode, synced at every commit)
// and a line beside it (appended and synced), so that a failover that loses it can be
// mended. It keeps nothing else: no check of the store, no comparison with the line file.
//
//   bench_bare_swipe CONNINFO NUM "yyyy-mm-dd hh:mm:ss"
//   bench_bare_swipe_keep CONNINFO NUM "yyyy-mm-dd hh:mm:ss" STORE
//   exit 0 recorded, 4 already recorded, 3 no such employee, 1 failure

#include <libpq-fe.h>

#ifdef BARE_SWIPE_KEEP
#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>

namespace {

#ifdef BARE_SWIPE_KEEP
constexpr int kArguments = 5;
#else
constexpr int kArguments = 4;
#endif

int failWith(PGconn* conn)
{
    std::fprintf(stderr, "%s", PQerrorMessage(conn));
    PQfinish(conn);
    return 1;
}

#ifdef BARE_SWIPE_KEEP
bool keep(const char* store, const char* num, const char* name, const char* at, const char* server)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(store, &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    bool ok =
        sqlite3_exec(
            db,
            "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
            "CREATE TABLE IF NOT EXISTS confirmed (num TEXT NOT NULL, name TEXT, "
            "at TEXT NOT NULL, server TEXT NOT NULL, confirmed_at TEXT NOT NULL, PRIMARY KEY (num, at)); "
            "BEGIN IMMEDIATE",
            nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO confirmed VALUES (?, ?, ?, ?, datetime('now'))",
                                  -1, &insert, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_bind_text(insert, 1, num, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, name, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, at, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 4, server, -1, SQLITE_STATIC);
        ok = sqlite3_step(insert) == SQLITE_DONE;
    }
    sqlite3_finalize(insert);
    ok = ok &&
         sqlite3_exec(db, "DELETE FROM confirmed WHERE confirmed_at < datetime('now', '-15 minutes'); COMMIT",
                      nullptr, nullptr, nullptr) == SQLITE_OK;
    ok = sqlite3_close(db) == SQLITE_OK && ok;

    char path[4096];
    char line[4096];
    std::snprintf(path, sizeof path, "%s.ledger", store);
    const int length = std::snprintf(line, sizeof line, "c\t%s\t%s\t%s\t%s\n", num, at, name, server);
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ok = ::write(fd, line, size_t(length)) == length && ::fdatasync(fd) == 0 && ok;
    ::close(fd);
    return ok;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    if (argc != kArguments) {
        std::fprintf(stderr, "usage: %s CONNINFO NUM \"yyyy-mm-dd hh:mm:ss\"%s\n", argv[0],
                     kArguments == 5 ? " STORE" : "");
        return 2;
    }
    PGconn* conn = PQconnectdb(argv[1]);
    if (PQstatus(conn) != CONNECTION_OK)
        return failWith(conn);
    const char* lookup[] = {argv[2]};
    PGresult* employee = PQexecParams(conn, "SELECT num, name FROM employ WHERE num = $1", 1, nullptr, lookup,
                                      nullptr, nullptr, 0);
    if (PQresultStatus(employee) != PGRES_TUPLES_OK)
        return failWith(conn);
    if (PQntuples(employee) == 0) {
        PQclear(employee);
        PQfinish(conn);
        return 3;
    }
    const char* swipe[] = {PQgetvalue(employee, 0, 0), PQgetvalue(employee, 0, 1), argv[3]};
    PGresult* r = PQexec(conn, "BEGIN");
    PQclear(r);
    // The terminal's bound on a wait for another session's lock, for this transaction only.
    r = PQexec(conn, "SET LOCAL lock_timeout = 24000");
    PQclear(r);
    r = PQexecParams(conn, "SELECT pg_advisory_xact_lock(1415673393, hashtext($1))", 1, nullptr, swipe,
                     nullptr, nullptr, 0);
    PQclear(r);
    const char* test[] = {swipe[0], swipe[2]};
    r = PQexecParams(conn,
                     "SELECT 1 FROM sgdjb WHERE num = $1 AND d + t > $2::timestamp - interval '180 seconds' "
                     "AND d + t < $2::timestamp + interval '180 seconds'",
                     2, nullptr, test, nullptr, nullptr, 0);
    const int found = PQntuples(r);
    PQclear(r);
    if (found == 0) {
        r = PQexecParams(conn,
                         "INSERT INTO sgdjb (num, name, d, t, opdate) VALUES ($1, $2, $3::timestamp::date, "
                         "$3::timestamp::time, '1999-01-01')",
                         3, nullptr, swipe, nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_COMMAND_OK)
            return failWith(conn);
        PQclear(r);
    }
#ifdef BARE_SWIPE_KEEP
    // Which server commits it, asked before the commit as the terminal does.
    PGresult* server = PQexec(conn, "SELECT concat_ws(' ', pg_postmaster_start_time()::text, "
                                    "pg_is_in_recovery()::text, inet_server_addr()::text, "
                                    "inet_server_port()::text)");
    if (PQresultStatus(server) != PGRES_TUPLES_OK)
        return failWith(conn);
#endif
    r = PQexec(conn, "COMMIT");
    const bool committed = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!committed) {
        PQclear(employee);
        return failWith(conn);
    }
#ifdef BARE_SWIPE_KEEP
    if (found == 0 && !keep(argv[4], swipe[0], swipe[1], swipe[2], PQgetvalue(server, 0, 0))) {
        std::fprintf(stderr, "the swipe is recorded, but could not be kept in %s\n", argv[4]);
        return 1;
    }
    PQclear(server);
#endif
    PQclear(employee);
    PQfinish(conn);
    std::printf(found == 0 ? "recorded\n" : "already recorded\n");
    return found == 0 ? 0 : 4;
}
