#pragma once

#include <QChar>

// The user's regional settings the terminal reads: only the time separator.
class LocaleInfo
{
public:
    // First separator character of the locale's time format; ':' when it gives none.
    static QChar timeSeparator();
};
