#pragma once

#include "platform/DatabaseError.h"

// A failure reported by SQLite, keeping its (extended) result code. It stays an
// DatabaseError by name, since the error log writes that name.
class SqliteError : public DatabaseError
{
public:
    SqliteError(QString message, int resultCode)
        : DatabaseError(message, troubleOf(resultCode, message)), m_resultCode(resultCode)
    {
    }
    QString typeName() const override { return QStringLiteral("EOleException"); }
    int resultCode() const { return m_resultCode; }
    int primaryResultCode() const { return m_resultCode & 0xff; }
    // SQLite's result code sorted into the kinds of trouble a user is told about.
    static Trouble troubleOf(int resultCode, const QString& message);

    // The error SQLite itself gives for a damaged file, for a check of our own that finds one.
    static SqliteError damaged(QString message);

private:
    int m_resultCode;
};
