#pragma once

#include "platform/Exception.h"

// A value that cannot be converted to the type asked for (a text that is no date, for
// instance). Written out as "EConvertError".
class ConversionError : public Exception
{
public:
    using Exception::Exception;
    QString typeName() const override { return QStringLiteral("EConvertError"); }
};
