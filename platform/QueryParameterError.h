#pragma once

#include "platform/QueryStateError.h"

// A statement parameter that the query does not have. Written out as "EADOError", the
// kind name the error log has always used for it.
class QueryParameterError : public QueryStateError
{
public:
    using QueryStateError::QueryStateError;
    QString typeName() const override { return QStringLiteral("EADOError"); }
};
