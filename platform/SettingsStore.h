#pragma once

#include <QString>

// The current user's settings store, reached the way a registry accessor reaches
// HKEY_CURRENT_USER: open a key by its path (creating it when asked), read values of it,
// close it. A machine-wide store backs it the way HKEY_LOCAL_MACHINE backs the user's
// hive: a value the user's store lacks, or holds blank, is read from the machine's.
//
// On Windows both are the registry itself. Elsewhere each is an INI file, read by
// IniFile (values as written, names without regard to case): the user's is
// userStorePath(), the machine's systemStorePath(), and a key path "\A\B\C" is the
// section "[A/B/C]".
//
// An INI file has no empty sections of its own, so creating a key appends the header
// line "[A/B/C]" to the user's file, creating the file and its folder when they are
// missing and leaving every byte already there as it was.
class SettingsStore
{
public:
    SettingsStore() = default;
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Opens the key; false when neither store has it and it is not to be (or cannot be)
    // created. A key already open is closed first.
    bool openKey(const QString& keyPath, bool canCreate);
    void closeKey();
    bool isOpen() const { return !m_keyPath.isEmpty(); }

    // The named value of the open key as stored, when it is a string (never expanded):
    // the user's when it holds more than blanks, else the machine's; the empty text
    // when neither has a string value of that name, or no key is open.
    QString readString(const QString& name) const;

    // The per-user INI file (honours QSettings::setPath for the INI format and user
    // scope, which is how tests move it). Empty on Windows.
    static QString userStorePath();
    // The machine-wide INI file: tavelo/registry.ini in the first folder of
    // $XDG_CONFIG_DIRS (/etc/xdg when unset). Empty on Windows.
    static QString systemStorePath();

private:
    QString m_keyPath;
};
