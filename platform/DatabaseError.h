#pragma once

#include "platform/Exception.h"

// A failure the database itself reported: a file that cannot be opened or written, an SQL
// error, a server's refusal. The error log writes it under the kind name "EOleException",
// the name the attendance software's log has always used for the provider's errors. Each
// back end gives it the kind of trouble (Exception::Trouble) its own codes tell.
class DatabaseError : public Exception
{
public:
    using Exception::Exception;
    QString typeName() const override { return QStringLiteral("EOleException"); }
};
