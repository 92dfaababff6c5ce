#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class DbBackend;

// What may enter a text column of the attendance tables, whichever import brings it (the
// CSV employee list, an Access database, the cards): one rule for every import, and the
// same for a file as for a server.
//
// - No control characters (C0 and C1, DEL, the line and paragraph separators, the marks
//   that reorder text): a NUL would cut the value on a server and not in a file, an ESC
//   would reach the terminal of whoever lists the rows, a line break no list row shows.
// - Widths count GBK bytes, a Chinese character two, a Latin letter or digit one: the
//   list sizes a column by its declared width in digit widths, and a Chinese character
//   is two digits wide, so a value within its width in bytes is one the list shows whole.
//   A server's character count is never stricter, so both targets take the same values.
//   A character GBK lacks counts as the one "?" it becomes there.
// - An employee number (num, wherever it appears) and a card number (card) are printable
//   ASCII, as the number box and a card reader type them: letters, digits, punctuation; no
//   blank before, after or inside them.
class ColumnRules
{
public:
    // The width a column is declared with ("VARCHAR(10)", "character varying(10)"), or -1
    // when its type sets no width.
    static int declaredWidth(const QString& declaredType);

    // The declared widths of the named columns of a table, in the order named.
    class Widths
    {
    public:
        Widths(DbBackend& db, const QString& table, const QStringList& columns);
        int width(qsizetype index) const { return m_widths[size_t(index)].width; }
        const QString& declaredType(qsizetype index) const { return m_widths[size_t(index)].declaredType; }

    private:
        struct Width
        {
            QString declaredType;
            int width = -1;
        };
        std::vector<Width> m_widths;
    };

    // Why value may not enter the column (a width of -1 sets no bound), or nothing. The
    // reason begins with the value, quoted safely: "\"a\x00b\" holds the control character
    // U+0000 at character 2".
    // Which characters a value may hold besides the rules above. A list written for the
    // terminal (CSV) must be GBK throughout; an Access database is taken as its years of use
    // left it, with names such as "Zoë" (the export refuses or replaces what GBK lacks).
    enum class Characters
    {
        Any,
        GbkOnly
    };

    static std::optional<QString> refusal(const QString& column, const QString& value, int width,
                                          const QString& declaredType = {},
                                          Characters characters = Characters::Any);

    // Where a refused value is: "employ row 3, column name".
    static QString where(const QString& table, qint64 row, const QString& column);

    // A text's width as the rules count it: its GBK bytes.
    static qsizetype width(const QString& text);
};
