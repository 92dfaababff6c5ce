#pragma once

#include <QString>

// Where the terminal's own files are: the folder of its executable and the per-user
// error log. Platform differences in these locations stay in here.
class AppPaths
{
public:
    // Folder of the running executable, always ending in "/". Taken from the
    // application object when one exists, else from the system's record of the process.
    static QString executableDir();

    // Per-user writable error log: $XDG_STATE_HOME/tavelo/error.log, with
    // ~/.local/state standing in for an unset or relative XDG_STATE_HOME.
    static QString defaultLogFilePath();

    // Creates the folder a file is to live in, with its parents. False when it cannot.
    static bool createParentFolder(const QString& filePath);
};
