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
    // The text as an SQL expression, for a statement that reads it beside its own columns:
    // with the timeline where this role may read the control file (as learnt when the
    // connection opened), without it elsewhere.
    static const QByteArray& expression();
    static const QByteArray& expression(bool withTimeline);
    static bool timelineReadable();
    // Asks whether this role may read the control file. A site may revoke that from PUBLIC;
    // a statement that names a function the role may not run is refused whole, whatever
    // branch it takes, so each swipe's statement must name it only where it is granted.
    // Run when a connection opens (the open check).
    static void learnGrants(ServerFeatures& server);
    // The statement, for a pipeline that reads the identity in a swipe's own transaction.
    static ServerFeatures::Statement statement();
    // The text from that statement's result.
    static QString fromRows(const ServerRows& rows);
    // Reads it in a round trip of its own.
    static QString read(ServerFeatures& server);
};
