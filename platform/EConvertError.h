#pragma once

#include "platform/Exception.h"

class EConvertError : public Exception
{
public:
    using Exception::Exception;
    QString typeName() const override { return QStringLiteral("EConvertError"); }
};
