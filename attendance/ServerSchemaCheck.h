#pragma once

class DbBackend;

// The tables a terminal reads and writes, as they must be on a server: employ with a text
// num and name, sgdjb with a text num and name, a date D, a time(0) T and a date opdate.
// A table that is not so is refused before anything is written to it. Installed on a
// connection with AdoConnection::setOpenCheck by whoever swipes, loads or exports through
// it; a database file is left alone (its types are its own). It also learns whether the
// role may read the control file, for the server's identity (ServerIdentity).
class ServerSchemaCheck
{
public:
    // Throws DatabaseError naming the table, the column and the type needed.
    static void run(DbBackend& backend);
};
