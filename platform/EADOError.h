#pragma once

#include "platform/EDatabaseError.h"

class EADOError : public EDatabaseError
{
public:
    using EDatabaseError::EDatabaseError;
    QString typeName() const override { return QStringLiteral("EADOError"); }
};
