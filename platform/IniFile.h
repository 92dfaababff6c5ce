#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

// A settings file in the INI layout as people write it by hand: "[Key/Path]" headers and
// "name=value" lines. A value is the text after the first '=' with the blanks around it
// dropped, whatever it holds: ';', ',', '"' and '\' are characters like any other, and a
// ';' or '#' starts a comment only at the start of a line.
//
// Key paths and value names match without regard to case, and a key path may be split
// between the header and the name with either '/' or '\' ("[Software]" with
// "Microsoft\Windows\...\mdb=" is how Qt's own writer lays a deep key out).
//
// Qt's own writer escapes its values and puts all of a deep key but the first name into
// the value's name ("[Software]" with "Microsoft\Windows\...\mdb="); a value laid out
// that way is read with its escapes resolved (\\ \" \t \xHHHH ...), as Qt meant it. A
// value under a header of its own is read as written, except that one wrapped whole in
// double quotes is Qt's quoted form in either layout (Qt quotes texts holding ',' or
// ';'). "@Variant(...)" and its kin are typed values, not strings, and a leading "@@"
// stands for one '@'.
class IniFile
{
public:
    static IniFile parse(const QByteArray& text);

    // True when a header names the key, or a value or a sub key lies under it.
    bool hasKey(const QString& keyPath) const;
    // The value as written (trimmed), or nothing when the key has no value of that name.
    // Of several, the last one counts.
    std::optional<QString> rawValue(const QString& keyPath, const QString& name) const;
    // rawValue() read as a string, quotes and escapes resolved where Qt wrote them;
    // nothing for a typed value or a missing one.
    std::optional<QString> stringValue(const QString& keyPath, const QString& name) const;

    // "\Software\Vendor", "software/vendor/" -> "software/vendor"
    static QString normalizedPath(const QString& path);
    // The string a raw value stands for, or nothing for a typed value; escapes outside
    // quotes count only in Qt's layout.
    static std::optional<QString> decodeString(const QString& raw, bool qtLayout);

private:
    struct Value
    {
        QString raw;
        bool qtLayout = false;
    };
    QHash<QString, Value> m_values; // normalized full path of the value -> the value
    QSet<QString> m_keys;           // normalized paths of every key that exists
};
