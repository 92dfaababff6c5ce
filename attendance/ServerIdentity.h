#pragma once

#include "query/ServerFeatures.h"

#include <QString>

// Which server a connection reached, in signals every role may read: when its postmaster
// started, whether it is in recovery, the address and port it answered on and, where the
// role may read the control file, its timeline. A restarted primary, a promoted standby
// or another host gives another text; the same server keeps it while it runs. Swipes a
// server confirmed carry it, so that a terminal learns when it reaches a server that may
// not hold them (asynchronous replication loses what the standby had not received).
class ServerIdentity
{
public:
    // The text as an SQL expression, for a statement that reads it beside its own columns.
    static const QByteArray& expression();
    // The statement, for a pipeline that reads the identity in a swipe's own transaction.
    static ServerFeatures::Statement statement();
    // The text from that statement's result.
    static QString fromRows(const ServerRows& rows);
    // Reads it in a round trip of its own.
    static QString read(ServerFeatures& server);
};
