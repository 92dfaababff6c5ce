#pragma once

#include "platform/Exception.h"

// A failed step of a file operation, carrying the system's error code of that step.
class FileError : public Exception
{
public:
    FileError(QString message, int errorCode) : Exception(std::move(message)), m_errorCode(errorCode) {}
    QString typeName() const override { return QStringLiteral("EInOutError"); }
    int errorCode() const { return m_errorCode; }

private:
    int m_errorCode;
};
