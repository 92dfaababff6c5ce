#pragma once

#include <QByteArray>
#include <QString>

class Exception;

// The error log: one fixed-layout GBK line per failed table query, appended to the file
// named by ErrMsgForm. Widths and cuts count GBK bytes, so lines and tags are bytes.
class ErrMsg
{
public:
    // "%-17s%-16s%-20s%-16s%s << %s >>" with the time ("yyyy-mm-dd hh:nn"), category,
    // window tag, type name, message and statement; no line end. Never fails.
    static QByteArray FormatErrorLine(const QString& statement, const Exception& error);

    // Appends the line and CR LF, creating the file when there is none. An end-of-file
    // mark (byte 26) within the last 128 bytes is cut off first, with everything after
    // it. The file is locked against other writers while it is open and closed before
    // returning. Throws FileError with the system's error code of the failed step.
    static void AppendLogLine(const QString& filePath, const QByteArray& line);
    // Appends the line for a failed statement to the error log ErrMsgForm names.
    static void LogFailure(const QString& statement, const Exception& error);

    // "DataType Error", "Database Error" or "System Error".
    static QString ErrorCategory(const Exception& error);

    // The part of the active window's caption after its second dash (or its first, when
    // there is only one), for captions longer than 20 bytes; "None Active Window"
    // otherwise. A tag of 20 bytes or more is cut to 16, possibly inside a character.
    static QByteArray ActiveWindowTag();
};
