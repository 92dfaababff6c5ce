#pragma once

#include "platform/DatabaseError.h"

// The database server could not be reached or stopped answering: connection refused or
// lost, a name that does not resolve, a timeout. Unlike an SQL error (a permission, a
// schema fault) the same statement may succeed once the network is back, so callers may
// keep the work and try again later.
class ServerUnreachable : public DatabaseError
{
public:
    explicit ServerUnreachable(QString message) : DatabaseError(std::move(message), Trouble::Unreachable) {}
    QString typeName() const override { return QStringLiteral("EOleException"); }
};
