#pragma once

#include <QString>

// What the terminal reads from its key of the current user's settings: the folder of the
// database files, and any other value by name.
class AppSettings
{
public:
    // Whether reading adds the application's key to the user's settings when it is missing,
    // as the terminal does, or leaves every file as it is, as a command that only prints must.
    enum class KeyCreation
    {
        CreateMissing,
        ReadOnly
    };

    // Trimmed string value of that name in the application's key of the current user's
    // settings, the key being created when missing (unless ReadOnly); the empty text on any
    // failure.
    static QString ReadAppRegString(const QString& valueName,
                                    KeyCreation creation = KeyCreation::CreateMissing);
    // Folder of the running executable, ending in "/".
    static QString GetAppDir();
    // The "mdb" value, or the executable's folder followed by "mdb" when that is empty.
    static QString GetMdbDir(KeyCreation creation = KeyCreation::CreateMissing);

    static const QString kAppKeyPath;
    static const QString kMdbValueName;
};
