#include "attendance/ServerIdentity.h"

#include "platform/DatabaseError.h"

namespace {

// The timeline is read only where the role was granted the control functions (by default
// superusers and pg_monitor); the other signals need no grant. The control file is read
// once, for the one column taken of it.
const QByteArray kIdentity =
    "pg_catalog.concat_ws(' ', CAST(pg_catalog.pg_postmaster_start_time() AS text), "
    "CASE WHEN pg_catalog.pg_is_in_recovery() THEN 'standby' ELSE 'primary' END, "
    "COALESCE(CAST(pg_catalog.inet_server_addr() AS text), 'local'), "
    "COALESCE(CAST(pg_catalog.inet_server_port() AS text), '-'), "
    "CASE WHEN pg_catalog.has_function_privilege('pg_catalog.pg_control_checkpoint()', 'EXECUTE') "
    "THEN 'timeline ' || CAST((pg_catalog.pg_control_checkpoint()).timeline_id AS text) END)";

} // namespace

const QByteArray& ServerIdentity::expression()
{
    return kIdentity;
}

ServerFeatures::Statement ServerIdentity::statement()
{
    return {"SELECT " + kIdentity, {}};
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
