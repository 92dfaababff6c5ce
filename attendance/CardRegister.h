#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

class AdoConnection;

// Which employee a badge or key fob belongs to, as the table `card` says when the list is
// loaded. A database made before cards existed has no such table: then no card is known
// and nothing is said about it.
class CardRegister
{
public:
    // Reads the table over the connection. No table: empty, and false. A table that cannot
    // be read throws what the database said, and leaves the register empty.
    bool load(AdoConnection& connection);
    void clear();
    // The same, with a table that cannot be read written to the error log as one line:
    // the list works without cards, and a card read then says the card is not known.
    static void loadLogged(CardRegister& cards, AdoConnection& connection);

    // Whether the database has a card table at all.
    bool present() const { return m_present; }
    // The employee number of the card's holder; none for an unknown card.
    std::optional<QString> holderOf(const QString& card) const;
    // Every card and its holder's number, for the terminal's own copy.
    QList<QPair<QString, QString>> entries() const;

private:
    bool m_present = false;
    QHash<QString, QString> m_holders;
};
