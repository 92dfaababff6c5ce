#pragma once

#include "platform/Exception.h"

class EDatabaseError : public Exception
{
public:
    using Exception::Exception;
    QString typeName() const override { return QStringLiteral("EDatabaseError"); }
};
