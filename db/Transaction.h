#pragma once

class AdoConnection;

// One write transaction on a connection: BEGIN IMMEDIATE takes the write lock at once, so
// a read-then-write sequence cannot interleave with another writer. Rolled back unless
// commit() is reached.
class Transaction
{
public:
    explicit Transaction(AdoConnection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    AdoConnection& m_connection;
    bool m_done = false;
};
