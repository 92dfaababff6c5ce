#include "interchange/CardImport.h"

#include "interchange/ColumnRules.h"
#include "interchange/CsvTable.h"
#include "interchange/CsvWriter.h"
#include "interchange/DevSchema.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/DbBackend.h"
#include "query/Statements.h"
#include "query/Transaction.h"

#include <QHash>
#include <QSet>

#include <optional>
#include <vector>

namespace {

struct Row
{
    qsizetype line = 0;
    QString card;
    QString num;
};

CardImport::Result refuse(qsizetype line, const QString& error)
{
    CardImport::Result result;
    result.line = line;
    result.error = error;
    return result;
}

std::optional<CardImport::Result> parse(const QByteArray& csv, std::vector<Row>& rows)
{
    CsvTable table(csv, EmployeeImport::kMaxFieldBytes);
    const QStringList columns{Statements::kCard, Statements::kNum};
    if (!table.readHeader(columns, columns))
        return refuse(table.line(), table.error());
    const qsizetype cardAt = table.position(Statements::kCard);
    const qsizetype numAt = table.position(Statements::kNum);
    QStringList fields;
    while (table.next(fields))
        rows.push_back({table.line(), fields.at(cardAt), fields.at(numAt)});
    if (!table.error().isEmpty())
        return refuse(table.line(), table.error());
    return std::nullopt;
}

bool hasCardTable(AdoConnection& connection)
{
    return !connection.backend().tableColumns(Statements::kCardTable).empty();
}

// A database from before cards gets its card table when the first cards are given, in the
// transaction that gives them.
void makeCardTable(AdoConnection& connection)
{
    if (hasCardTable(connection))
        return;
    const bool server = connection.backend().serverFeatures() != nullptr;
    for (const QString& statement : server ? DevSchema::serverCardDdl() : DevSchema::cardDdl())
        connection.execute(statement);
}

// What the database holds now: the employees' numbers, the cards given, and the widths.
struct Known
{
    QSet<QString> employees;
    QHash<QString, QString> cards;
    int cardWidth = DevSchema::kCardWidth;
    int numWidth = 0;
};

Known readKnown(AdoConnection& connection)
{
    Known known;
    AdoQuery list(QStringLiteral("EmployQry"));
    list.setConnection(&connection);
    list.sqlAdd(QStringLiteral("SELECT num FROM employ"));
    list.open();
    const int numColumn = list.fieldIndex(Statements::kNum);
    for (int row = 0; row < list.recordCount(); ++row)
        known.employees.insert(list.valueAsString(row, numColumn));
    list.close();
    AdoQuery cards(QStringLiteral("CardQry"));
    cards.setConnection(&connection);
    cards.sqlAdd(Statements::kCardHolders);
    cards.open();
    const int cardColumn = cards.fieldIndex(Statements::kCard);
    const int holderColumn = cards.fieldIndex(Statements::kNum);
    if (const int width = cards.fieldDisplayWidth(cardColumn); width > 0)
        known.cardWidth = width;
    known.numWidth = cards.fieldDisplayWidth(holderColumn);
    for (int row = 0; row < cards.recordCount(); ++row)
        known.cards.insert(cards.valueAsString(row, cardColumn), cards.valueAsString(row, holderColumn));
    cards.close();
    return known;
}

// Each value by the rules every import keeps (ColumnRules), then the holder against the list.
// rowNumber counts the file's rows (or 1 for a single card), as the other imports name them.
std::optional<CardImport::Result> checkRow(const Row& row, qint64 rowNumber, const Known& known)
{
    if (row.card.isEmpty())
        return refuse(row.line, QStringLiteral("card is empty"));
    if (row.num.isEmpty())
        return refuse(row.line, QStringLiteral("num is empty"));
    const std::pair<QString, int> columns[] = {{Statements::kCard, known.cardWidth},
                                               {Statements::kNum, known.numWidth}};
    for (const auto& [column, width] : columns) {
        const QString& value = column == Statements::kCard ? row.card : row.num;
        if (auto why = ColumnRules::refusal(column, value, width > 0 ? width : -1, QString(),
                                            ColumnRules::Characters::GbkOnly))
            return refuse(row.line,
                          ColumnRules::where(QStringLiteral("card"), rowNumber, column) + u' ' + *why);
    }
    if (!known.employees.contains(row.num))
        return refuse(row.line,
                      QStringLiteral("num %1 is no employee's number (card %2)").arg(row.num, row.card));
    return std::nullopt;
}

void insertCards(AdoConnection& connection, const std::vector<Row>& rows)
{
    AdoQuery write(QStringLiteral("CardQry"));
    write.setConnection(&connection);
    write.sqlAdd(QStringLiteral("INSERT INTO card (card, num) VALUES (:card, :num)"));
    for (const Row& row : rows) {
        write.setParameter(Statements::kCard, row.card);
        write.setParameter(Statements::kNum, row.num);
        write.execSql();
    }
}

} // namespace

CardImport::Result CardImport::run(AdoConnection& connection, const QByteArray& csv, Mode mode)
{
    std::vector<Row> rows;
    if (auto refused = parse(csv, rows))
        return *refused;

    // One writer of the list and its cards at a time, from the check to the commit.
    Transaction transaction(connection, Transaction::EmployeeList{});
    makeCardTable(connection);
    const Known known = readKnown(connection);
    QHash<QString, qsizetype> seen;
    qint64 rowNumber = 0;
    for (const Row& row : rows) {
        if (auto refused = checkRow(row, ++rowNumber, known))
            return *refused;
        if (const auto earlier = seen.constFind(row.card); earlier != seen.constEnd())
            return refuse(row.line,
                          QStringLiteral("card %1 repeats line %2").arg(row.card, QString::number(*earlier)));
        seen.insert(row.card, row.line);
        if (mode == Mode::Add) {
            if (const auto given = known.cards.constFind(row.card); given != known.cards.constEnd())
                return refuse(row.line,
                              QStringLiteral("card %1 is already given to employee %2 (cards remove takes "
                                             "it back, --replace replaces the card list)")
                                  .arg(row.card, *given));
        }
    }
    Result result;
    if (mode == Mode::Replace) {
        connection.execute(QStringLiteral("DELETE FROM card"));
        result.removed = known.cards.size();
    }
    insertCards(connection, rows);
    transaction.commit();
    result.added = qsizetype(rows.size());
    result.ok = true;
    return result;
}

CardImport::Result CardImport::add(AdoConnection& connection, const QString& card, const QString& num)
{
    Transaction transaction(connection, Transaction::EmployeeList{});
    makeCardTable(connection);
    const Known known = readKnown(connection);
    const Row row{0, card, num};
    if (auto refused = checkRow(row, 1, known))
        return *refused;
    if (const auto given = known.cards.constFind(card); given != known.cards.constEnd())
        return refuse(0, QStringLiteral("card %1 is already given to employee %2").arg(card, *given));
    insertCards(connection, {row});
    transaction.commit();
    Result result;
    result.added = 1;
    result.ok = true;
    return result;
}

CardImport::Result CardImport::remove(AdoConnection& connection, const QString& card)
{
    Transaction transaction(connection, Transaction::EmployeeList{});
    if (!hasCardTable(connection))
        return refuse(0, QStringLiteral("no card %1: the database has no cards").arg(card));
    AdoQuery write(QStringLiteral("CardQry"));
    write.setConnection(&connection);
    write.sqlAdd(QStringLiteral("DELETE FROM card WHERE card = :card"));
    write.setParameter(Statements::kCard, card);
    if (write.execSql() == 0)
        return refuse(0, QStringLiteral("no card %1").arg(card));
    transaction.commit();
    Result result;
    result.removed = 1;
    result.ok = true;
    return result;
}

QByteArray CardImport::exportCsv(AdoConnection& connection)
{
    QByteArray out = CsvWriter::record({Statements::kCard, Statements::kNum}).toUtf8();
    if (!hasCardTable(connection))
        return out;
    AdoQuery cards(QStringLiteral("CardQry"));
    cards.setConnection(&connection);
    cards.sqlAdd(Statements::kCardHolders + QStringLiteral(" ORDER BY card"));
    cards.open();
    const int cardColumn = cards.fieldIndex(Statements::kCard);
    const int numColumn = cards.fieldIndex(Statements::kNum);
    for (int row = 0; row < cards.recordCount(); ++row)
        out += CsvWriter::record({cards.valueAsString(row, cardColumn), cards.valueAsString(row, numColumn)})
                   .toUtf8();
    cards.close();
    return out;
}
