#pragma once

#include <QString>

// A column of a table as its back end declares it.
struct DbColumnInfo
{
    QString name;
    // The declared type as the back end writes it ("VARCHAR(10)", "DATETIME", "date").
    QString declaredType;
};
