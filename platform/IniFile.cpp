#include "platform/IniFile.h"

#include "platform/Blanks.h"

#include <QStringList>

#include <string_view>

namespace {

using Blanks::trimmed;

QString joined(const QString& key, const QString& name)
{
    if (key.isEmpty())
        return name;
    if (name.isEmpty())
        return key;
    return key + u'/' + name;
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The escapes of Qt's INI writer inside a quoted value.
QString unescaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar e = text.at(++i);
        // The one-letter escapes of C, each followed by what it stands for.
        static constexpr char16_t kLetters[] = u"a\ab\bf\fn\nr\rt\tv\v";
        const std::u16string_view letters(kLetters);
        if (const size_t at = letters.find(e.unicode()); at != letters.npos && at % 2 == 0) {
            out += QChar(letters[at + 1]);
            continue;
        }
        switch (e.unicode()) {
        case u'x': {
            char32_t code = 0;
            int digits = 0;
            while (digits < 4 && i + 1 < text.size() && hexDigit(text.at(i + 1)) >= 0) {
                code = code * 16 + char32_t(hexDigit(text.at(++i)));
                ++digits;
            }
            if (digits == 0)
                out += e;
            else
                out += QChar(char16_t(code));
            break;
        }
        default:
            if (e >= u'0' && e <= u'7') {
                char16_t code = char16_t(e.unicode() - u'0');
                for (int digits = 1;
                     digits < 3 && i + 1 < text.size() && text.at(i + 1) >= u'0' && text.at(i + 1) <= u'7';
                     ++digits)
                    code = char16_t(code * 8 + (text.at(++i).unicode() - u'0'));
                out += QChar(code);
            } else {
                out += e; // \\ \" \' \? and anything else stand for themselves
            }
        }
    }
    return out;
}

} // namespace

QString IniFile::normalizedPath(const QString& path)
{
    QStringList parts;
    for (const QString& part : QString(path).replace(u'\\', u'/').split(u'/', Qt::SkipEmptyParts)) {
        const QString name = trimmed(part);
        if (!name.isEmpty())
            parts.append(name.toCaseFolded());
    }
    return parts.join(u'/');
}

IniFile IniFile::parse(const QByteArray& text)
{
    IniFile file;
    QString section;
    QString content = QString::fromUtf8(text);
    if (content.startsWith(QChar(0xFEFF)))
        content.remove(0, 1);
    const auto addKeyAndParents = [&file](const QString& key) {
        QString path = key;
        while (!path.isEmpty()) {
            file.m_keys.insert(path);
            const qsizetype slash = path.lastIndexOf(u'/');
            path = slash < 0 ? QString() : path.left(slash);
        }
    };
    for (const QString& rawLine : content.split(u'\n')) {
        const QString line = trimmed(rawLine);
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            section = normalizedPath(line.mid(1, line.size() - 2));
            // Qt's writer keeps values at the top level under this name.
            if (section == u"general")
                section.clear();
            addKeyAndParents(section);
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString name = normalizedPath(line.left(equals));
        const QString fullName = joined(section, name);
        const qsizetype slash = fullName.lastIndexOf(u'/');
        addKeyAndParents(slash < 0 ? QString() : fullName.left(slash));
        file.m_values.insert(fullName, Value{trimmed(line.mid(equals + 1)), name.contains(u'/')});
    }
    return file;
}

bool IniFile::hasKey(const QString& keyPath) const
{
    const QString key = normalizedPath(keyPath);
    return !key.isEmpty() && m_keys.contains(key);
}

std::optional<QString> IniFile::rawValue(const QString& keyPath, const QString& name) const
{
    const auto it = m_values.constFind(joined(normalizedPath(keyPath), normalizedPath(name)));
    if (it == m_values.cend())
        return std::nullopt;
    return it->raw;
}

std::optional<QString> IniFile::stringValue(const QString& keyPath, const QString& name) const
{
    const auto it = m_values.constFind(joined(normalizedPath(keyPath), normalizedPath(name)));
    if (it == m_values.cend())
        return std::nullopt;
    return decodeString(it->raw, it->qtLayout);
}

std::optional<QString> IniFile::decodeString(const QString& raw, bool qtLayout)
{
    static const char* const kTypedPrefixes[] = {"@Variant(", "@ByteArray(", "@DateTime(", "@Rect(",
                                                 "@Size(",    "@Point(",     "@Invalid()"};
    for (const char* prefix : kTypedPrefixes) {
        if (raw.startsWith(QLatin1String(prefix)))
            return std::nullopt;
    }
    if (raw.size() >= 2 && raw.startsWith(u'"') && raw.endsWith(u'"'))
        return unescaped(raw.mid(1, raw.size() - 2));
    // Qt's writer doubles a leading '@' so that the text cannot pass for a typed value.
    const QString text = raw.startsWith(QLatin1String("@@")) ? raw.mid(1) : raw;
    return qtLayout ? unescaped(text) : text;
}
