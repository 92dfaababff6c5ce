#pragma once

#include <QString>

class AdoConnection;

// One write transaction on a connection, serialised against every other transaction taken
// with the same key on any connection to the same database, so that a read-then-write
// sequence cannot interleave with another terminal's. Rolled back unless commit() is
// reached.
class Transaction
{
public:
    explicit Transaction(AdoConnection& connection, const QString& key = {});
    // A transaction that changes the employee list as a whole: one such at a time.
    struct EmployeeList
    {
    };
    Transaction(AdoConnection& connection, EmployeeList);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    AdoConnection& m_connection;
    bool m_done = false;
};
