#pragma once

#include "platform/DatabaseError.h"

#include <QByteArray>

// The database server refused a statement for a reason that sending it again will not
// change: a constraint, a permission, an exception raised by a trigger, a value the column
// cannot hold. A queued swipe refused this way is set aside instead of blocking the swipes
// behind it. Written out under the provider's kind, as any other server error.
class ServerRefusal : public DatabaseError
{
public:
    ServerRefusal(QString message, QByteArray sqlState)
        : DatabaseError(std::move(message), Trouble::Refused), m_sqlState(std::move(sqlState))
    {
    }
    QString typeName() const override { return QStringLiteral("EOleException"); }
    // The server's five-character SQLSTATE code.
    const QByteArray& sqlState() const { return m_sqlState; }

private:
    QByteArray m_sqlState;
};
