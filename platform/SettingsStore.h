#pragma once

#include <QString>

#include <memory>

class QSettings;

// The current user's settings store, reached the way a registry accessor reaches
// HKEY_CURRENT_USER: open a key by its path (creating it when asked), read values of it,
// close it. On Windows it is the registry itself. Elsewhere it is one INI file per user,
// userStorePath(), in which a key path "\A\B\C" is the group "A/B/C".
//
// An INI file has no empty groups of its own (QSettings drops groups without values), so
// creating a key writes the group's header line "[A/B/C]" into the file directly,
// creating the file and its folder when they are missing; a key exists when the file
// has that header or any value under the group.
//
// Value types in the INI file follow QSettings: plain text is a string; a text with
// unquoted commas is a list, and "@Variant(...)" and similar hold typed values such as
// numbers. Only strings read as strings; a folder name with a comma must be quoted.
class SettingsStore
{
public:
    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Opens the key; false when it is missing (and canCreate is false) or cannot be
    // opened or created. A key already open is closed first.
    bool openKey(const QString& keyPath, bool canCreate);
    void closeKey();
    bool isOpen() const { return m_settings != nullptr; }

    // The named value of the open key as stored, when it is a string (plain or
    // expandable, never expanded); the empty text when the value is missing, of another
    // type, or no key is open.
    QString readString(const QString& name) const;

    // The per-user INI file (honours QSettings::setPath for the INI format and user
    // scope, which is how tests move it). Empty on Windows.
    static QString userStorePath();

private:
    std::unique_ptr<QSettings> m_settings;
};
