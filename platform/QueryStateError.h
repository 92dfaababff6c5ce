#pragma once

#include "platform/Exception.h"

// A query used in a state that cannot serve the request: no connection, a closed dataset,
// a statement that returns no rows, a field that is not there. Written out as
// "EDatabaseError", the kind name the error log has always used for these.
class QueryStateError : public Exception
{
public:
    using Exception::Exception;
    QString typeName() const override { return QStringLiteral("EDatabaseError"); }
};
