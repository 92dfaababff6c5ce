#pragma once

#include "platform/Exception.h"

// An Access file that cannot be read: not an Access file, a version other than Jet 4,
// encrypted, damaged, or without the tables and columns the attendance data lives in.
class AccessFileError : public Exception
{
public:
    using Exception::Exception;
    QString typeName() const override { return QStringLiteral("EAccessFileError"); }
};
