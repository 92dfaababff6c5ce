#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Dates and timestamps as the server writes them under whatever DateStyle its session has
// (the server's default: a site may run "SQL, DMY" or "German"), read back as ISO
// "yyyy-mm-dd" and "yyyy-mm-dd hh:mm:ss[.ffffff]". The terminal never sets the style: a
// session setting would outlive the transaction on a pooled server connection and reach
// other clients. libpq reports the session's style with every change, so each result is
// read in the style it was written in.
class PgDateStyle
{
public:
    // The text of a date (withTime false) or a timestamp without time zone, written under
    // dateStyle (the server's report, such as "ISO, MDY" or "SQL, DMY"), in ISO form. A
    // text in no form known (a BC date, infinity) comes back unchanged.
    static QByteArray toIso(QByteArrayView text, QByteArrayView dateStyle, bool withTime);
};
