// The floor a swipe from the command line stands on: a program with nothing but libpq that
// looks one employee up by number and records a swipe at the given instant unless a row of
// that number lies within three minutes either side, in one transaction under the same
// advisory lock as the terminal's. No Qt, no C++ library: what `kqdb swipe` is measured
// against.
//
//   bench_bare_swipe CONNINFO NUM "yyyy-mm-dd hh:mm:ss"
//   exit 0 recorded, 4 already recorded, 3 no such employee, 1 failure

#include <libpq-fe.h>

#include <cstdio>

namespace {

int failWith(PGconn* conn)
{
    std::fprintf(stderr, "%s", PQerrorMessage(conn));
    PQfinish(conn);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s CONNINFO NUM \"yyyy-mm-dd hh:mm:ss\"\n", argv[0]);
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
    r = PQexecParams(conn, "SELECT pg_advisory_xact_lock(1415673393, hashtext($1))", 1, nullptr, swipe, nullptr,
                     nullptr, 0);
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
    r = PQexec(conn, "COMMIT");
    const bool committed = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    PQclear(employee);
    PQfinish(conn);
    if (!committed)
        return 1;
    std::printf(found == 0 ? "recorded\n" : "already recorded\n");
    return found == 0 ? 0 : 4;
}
