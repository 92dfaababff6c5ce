#pragma once

#include "platform/EOleException.h"

// A failure reported by SQLite, keeping its (extended) result code. It stays an
// EOleException by name, since the error log writes that name.
class ESqliteError : public EOleException
{
public:
    ESqliteError(QString message, int resultCode)
        : EOleException(std::move(message)), m_resultCode(resultCode)
    {
    }
    QString typeName() const override { return QStringLiteral("EOleException"); }
    int resultCode() const { return m_resultCode; }
    int primaryResultCode() const { return m_resultCode & 0xff; }

private:
    int m_resultCode;
};
