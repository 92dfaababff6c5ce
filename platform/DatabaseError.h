#pragma once

#include "platform/Exception.h"

// A failure the database itself reported: a file that cannot be opened or written, an SQL
// error, a server's refusal. The error log writes it under the kind name "EOleException",
// the name the attendance software's log has always used for the provider's errors.
class DatabaseError : public Exception
{
public:
    // What went wrong, in terms any back end can report and a user can be told; a back end
    // that knows more than its message says overrides trouble().
    enum class Trouble
    {
        Unknown,
        Locked,
        DiskFull,
        NoWriteRight,
        DiskIo,
        Damaged,
        CannotOpen
    };

    using Exception::Exception;
    QString typeName() const override { return QStringLiteral("EOleException"); }
    virtual Trouble trouble() const { return Trouble::Unknown; }
};
