#include "attendance/CardRegister.h"

#include "log/ErrMsg.h"
#include "platform/Exception.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/DbBackend.h"
#include "query/Statements.h"

bool CardRegister::load(AdoConnection& connection)
{
    clear();
    // Asked first, so that a database from before cards is told apart from one whose card
    // table cannot be read, without matching the database's message.
    if (connection.backend().tableColumns(Statements::kCardTable).empty())
        return false;
    AdoQuery cards(QStringLiteral("CardQry"));
    cards.setConnection(&connection);
    cards.sqlAdd(Statements::kCardHolders);
    cards.open();
    const int cardColumn = cards.fieldIndex(Statements::kCard);
    const int numColumn = cards.fieldIndex(Statements::kNum);
    QHash<QString, QString> holders;
    holders.reserve(cards.recordCount());
    for (int row = 0; row < cards.recordCount(); ++row)
        holders.insert(cards.valueAsString(row, cardColumn), cards.valueAsString(row, numColumn));
    cards.close();
    m_holders = std::move(holders);
    m_present = true;
    return true;
}

void CardRegister::loadLogged(CardRegister& cards, AdoConnection& connection)
{
    try {
        cards.load(connection);
    } catch (const Exception& error) {
        cards.clear();
        try {
            ErrMsg::LogFailure(Statements::kCardHolders, error);
        } catch (const Exception&) {
            // The log itself failed: the list is there all the same.
        }
    }
}

void CardRegister::clear()
{
    m_present = false;
    m_holders.clear();
}

std::optional<QString> CardRegister::holderOf(const QString& card) const
{
    const auto found = m_holders.constFind(card);
    if (found == m_holders.constEnd())
        return std::nullopt;
    return *found;
}

QList<QPair<QString, QString>> CardRegister::entries() const
{
    QList<QPair<QString, QString>> out;
    out.reserve(m_holders.size());
    for (auto it = m_holders.constBegin(); it != m_holders.constEnd(); ++it)
        out.append({it.key(), it.value()});
    return out;
}
