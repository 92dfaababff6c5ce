#pragma once

#include "interchange/EmployeeImport.h"

#include <QByteArray>
#include <QString>

class AdoConnection;

// Which employee each badge or key fob belongs to (table card): loaded from CSV, listed,
// one card given or taken back. CSV is UTF-8 with a header naming the columns card and num
// in any order. A card number is what the reader types: ASCII letters and digits, held to
// the employee import's rules for every field. All or nothing: a refused file, or a refused
// card, changes nothing.
//
// A database made before cards has no card table: the first card given makes it (and, on
// a server, lets the terminals read it).
class CardImport
{
public:
    using Result = EmployeeImport::Result;

    enum class Mode
    {
        // Every card in the file must be new.
        Add,
        // The file becomes the whole card list.
        Replace
    };

    // Refused besides the employee import's refusals: a card given twice in the file, a
    // card already given (unless Replace), a card given to a number nobody in employ has.
    static Result run(AdoConnection& connection, const QByteArray& csv, Mode mode);
    // One card for the employee of that number, under the same rules.
    static Result add(AdoConnection& connection, const QString& card, const QString& num);
    // Takes the card back; refused when no such card is given.
    static Result remove(AdoConnection& connection, const QString& card);
    // The cards as CSV (card,num, one per line, in order of card number); a database
    // without a card table has none.
    static QByteArray exportCsv(AdoConnection& connection);
};
