#pragma once

#include "platform/Exception.h"

class EOleException : public Exception
{
public:
    using Exception::Exception;
    QString typeName() const override { return QStringLiteral("EOleException"); }
};
