#pragma once

#include <QString>

// What the terminal reads from its key of the current user's settings: the folder of the
// database files, and any other value by name.
class AppSettings
{
public:
    // Trimmed string value of that name in the application's key of the current user's
    // settings, the key being created when missing; the empty text on any failure.
    static QString ReadAppRegString(const QString& valueName);
    // Folder of the running executable, ending in "/".
    static QString GetAppDir();
    // The "mdb" value, or the executable's folder followed by "mdb" when that is empty.
    static QString GetMdbDir();

    static const QString kAppKeyPath;
    static const QString kMdbValueName;
};
