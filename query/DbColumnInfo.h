#pragma once

#include <QString>

// A column of a table as its back end declares it.
struct DbColumnInfo
{
    QString name;
    // The declared type as the back end writes it ("VARCHAR(10)", "DATETIME", "date").
    QString declaredType;

    // Declared as a date or a time: its values read and bind as date/time values.
    static bool isDateTimeType(const QString& declared)
    {
        return declared.contains(u"DATE", Qt::CaseInsensitive) ||
               declared.contains(u"TIME", Qt::CaseInsensitive);
    }
    // A name quoted as an SQL identifier, both back ends alike.
    static QString quotedName(const QString& name)
    {
        return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
    }
};
