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

    // Per-user folder of the terminal's own state, ending in "/": $XDG_STATE_HOME/tavelo/,
    // with ~/.local/state standing in for an unset or relative XDG_STATE_HOME.
    static QString stateDir();

    // Per-user writable error log: error.log in the state folder.
    static QString defaultLogFilePath();

    // Creates the folder a file is to live in, with its parents, each folder made here
    // readable by its owner only (0700). False when it cannot.
    static bool createParentFolder(const QString& filePath);
};
