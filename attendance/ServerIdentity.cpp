#include "attendance/ServerIdentity.h"

#include "platform/DatabaseError.h"

#include <atomic>

namespace {

// Every role may read these signals.
const QByteArray kSignals = "CAST(pg_catalog.pg_postmaster_start_time() AS text), "
                            "CASE WHEN pg_catalog.pg_is_in_recovery() THEN 'standby' ELSE 'primary' END, "
                            "COALESCE(CAST(pg_catalog.inet_server_addr() AS text), 'local'), "
                            "COALESCE(CAST(pg_catalog.inet_server_port() AS text), '-')";
// The control file is read once, for the one column taken of it.
const QByteArray kWithTimeline =
    "pg_catalog.concat_ws(' ', " + kSignals +
    ", 'timeline ' || CAST((pg_catalog.pg_control_checkpoint()).timeline_id AS text))";
const QByteArray kWithoutTimeline = "pg_catalog.concat_ws(' ', " + kSignals + ")";

// Until a connection has said otherwise, the form that any role may run.
std::atomic<bool> g_timelineReadable{false};

} // namespace

const QByteArray& ServerIdentity::expression(bool withTimeline)
{
    return withTimeline ? kWithTimeline : kWithoutTimeline;
}

const QByteArray& ServerIdentity::expression()
{
    return expression(timelineReadable());
}

bool ServerIdentity::timelineReadable()
{
    return g_timelineReadable.load();
}

void ServerIdentity::learnGrants(ServerFeatures& server)
{
    const std::vector<ServerRows> rows = server.pipeline(
        {{"SELECT pg_catalog.has_function_privilege('pg_catalog.pg_control_checkpoint()', 'EXECUTE')", {}}});
    if (rows.empty() || rows.front().rows() < 1)
        throw DatabaseError(QStringLiteral("The database server did not say what this role may read."));
    g_timelineReadable = rows.front().value(0, 0) == "t";
}

ServerFeatures::Statement ServerIdentity::statement()
{
    return {"SELECT " + expression(), {}};
}

QString ServerIdentity::fromRows(const ServerRows& rows)
{
    if (rows.rows() < 1)
        throw DatabaseError(QStringLiteral("The database server did not say which server it is."));
    return QString::fromUtf8(rows.value(0, 0));
}

QString ServerIdentity::read(ServerFeatures& server)
{
    const std::vector<ServerRows> rows = server.pipeline({statement()});
    if (rows.empty())
        throw DatabaseError(QStringLiteral("The database server did not say which server it is."));
    return fromRows(rows.front());
}
