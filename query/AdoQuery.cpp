#include "query/AdoQuery.h"

#include "query/AdoConnection.h"
#include "query/DateTimeCoercion.h"
#include "query/DbBackend.h"
#include "query/SqlStatementPlan.h"
#include "platform/QueryParameterError.h"
#include "platform/ConversionError.h"
#include "platform/QueryStateError.h"
#include "platform/DatabaseError.h"

#include <QHash>
#include <QRegularExpression>
#include <QScopeGuard>

#include <algorithm>
#include <unordered_map>
#include <variant>

namespace {

using Cell = DbValue;

int computeDisplayWidth(const QString& declared, bool dateTime)
{
    static const QRegularExpression length(QStringLiteral("\\(\\s*(\\d+)"));
    if (dateTime)
        return 19; // "yyyy-mm-dd hh:nn:ss"
    const QRegularExpressionMatch m = length.match(declared);
    if (m.hasMatch())
        return m.captured(1).toInt();
    if (declared.contains(u"INT", Qt::CaseInsensitive))
        return 10;
    if (declared.contains(u"REAL", Qt::CaseInsensitive) || declared.contains(u"FLOA", Qt::CaseInsensitive) ||
        declared.contains(u"DOUB", Qt::CaseInsensitive) || declared.contains(u"NUM", Qt::CaseInsensitive))
        return 15;
    return 20;
}

// A statement's few declared types come back on every open; the pattern match is kept.
int displayWidthFor(const QString& declared, bool dateTime)
{
    if (dateTime)
        return computeDisplayWidth(declared, dateTime);
    thread_local QHash<QString, int> widths;
    if (auto it = widths.constFind(declared); it != widths.constEnd())
        return *it;
    const int width = computeDisplayWidth(declared, dateTime);
    if (widths.size() < 256)
        widths.insert(declared, width);
    return width;
}

// Analysing a statement costs more than running it on a small table; the texts a terminal
// uses are few and are set again on every swipe, so their analyses are kept. The cache
// belongs to the thread, as queries do.
std::shared_ptr<const SqlStatementPlan> planFor(const QString& sql)
{
    constexpr qsizetype kMaxPlans = 64;
    thread_local QHash<QString, std::shared_ptr<const SqlStatementPlan>> plans;
    if (auto it = plans.constFind(sql); it != plans.constEnd())
        return *it;
    if (plans.size() >= kMaxPlans)
        plans.clear();
    auto plan = std::make_shared<const SqlStatementPlan>(sql);
    plans.insert(sql, plan);
    return plan;
}

[[noreturn]] void commandTextMissing()
{
    throw DatabaseError(QStringLiteral("Command text was not set for the command object."));
}

} // namespace

struct AdoQuery::Snapshot
{
    struct Column
    {
        QString name;
        bool dateTime = false;
        int displayWidth = 0;
    };
    // Rows of the field, sorted by the case-folded text, for locate.
    struct LocateIndex
    {
        std::vector<QString> keys;
        std::vector<int> rows;
    };

    std::vector<Column> columns;
    std::vector<Cell> cells; // row-major
    std::vector<Cell> rowIds;
    QString table;
    // The name under which the table's hidden row id is reachable.
    QString rowIdName;
    // Per loaded column, the table column it was read from, or empty for an expression.
    QStringList tableColumns;
    int rowCount = 0;
    std::unordered_map<int, LocateIndex> indexes;

    const Cell& cell(int row, int column) const
    {
        return cells[size_t(row) * columns.size() + size_t(column)];
    }

    QString text(int row, int column) const
    {
        const Cell& c = cell(row, column);
        const bool dateTime = columns[size_t(column)].dateTime;
        if (const auto* s = std::get_if<QString>(&c))
            return *s;
        if (const auto* b = std::get_if<QByteArray>(&c))
            return QString::fromUtf8(*b);
        if (const auto* i = std::get_if<qint64>(&c))
            return dateTime ? DateTimeCoercion::format(DateTimeValue(*i)) : QString::number(*i);
        if (const auto* d = std::get_if<double>(&c))
            return dateTime ? DateTimeCoercion::format(DateTimeValue(qint64(*d)))
                            : QString::number(*d, 'g', 15);
        return {};
    }

    const LocateIndex& index(int column)
    {
        auto found = indexes.find(column);
        if (found != indexes.end())
            return found->second;
        std::vector<QString> folded(static_cast<size_t>(rowCount));
        for (int r = 0; r < rowCount; ++r)
            folded[size_t(r)] = text(r, column).toCaseFolded();
        LocateIndex built;
        built.rows.resize(size_t(rowCount));
        for (int r = 0; r < rowCount; ++r)
            built.rows[size_t(r)] = r;
        const auto before = [&](int a, int b) {
            const int order = QString::compare(folded[size_t(a)], folded[size_t(b)], Qt::CaseSensitive);
            return order != 0 ? order < 0 : a < b;
        };
        // Employee tables usually come in number order already; checking costs one pass.
        if (!std::is_sorted(built.rows.begin(), built.rows.end(), before))
            std::sort(built.rows.begin(), built.rows.end(), before);
        built.keys.reserve(size_t(rowCount));
        for (int r : built.rows)
            built.keys.push_back(std::move(folded[size_t(r)]));
        return indexes.emplace(column, std::move(built)).first->second;
    }

    void removeRow(int row)
    {
        const auto width = qsizetype(columns.size());
        cells.erase(cells.begin() + row * width, cells.begin() + (row + 1) * width);
        rowIds.erase(rowIds.begin() + row);
        --rowCount;
        for (auto& [column, index] : indexes) {
            size_t out = 0;
            for (size_t i = 0; i < index.rows.size(); ++i) {
                const int r = index.rows[i];
                if (r == row)
                    continue;
                index.rows[out] = r > row ? r - 1 : r;
                index.keys[out] = std::move(index.keys[i]);
                ++out;
            }
            index.rows.resize(out);
            index.keys.resize(out);
        }
    }
};

AdoQuery::AdoQuery(const QString& name, QObject* parent)
    : QObject(parent), m_name(name), m_plan(planFor(QString()))
{
}

AdoQuery::~AdoQuery() = default;

void AdoQuery::setConnection(AdoConnection* connection)
{
    if (m_connection == connection)
        return;
    close();
    if (m_connection)
        disconnect(m_connection, nullptr, this, nullptr);
    m_connection = connection;
    if (m_connection)
        connect(m_connection, &AdoConnection::aboutToClose, this, &AdoQuery::close);
}

void AdoQuery::sqlClear()
{
    close();
    m_lines.clear();
    rebuildParameters();
}

void AdoQuery::sqlAdd(const QString& line)
{
    close();
    m_lines.append(line);
    rebuildParameters();
}

QString AdoQuery::sqlText() const
{
    return m_lines.join(u'\n');
}

QStringList AdoQuery::parameterNames() const
{
    return m_parameterNames;
}

void AdoQuery::rebuildParameters()
{
    const QStringList old = m_parameterNames;
    const std::vector<QVariant> oldValues = m_parameterValues;
    m_plan = planFor(sqlText());
    m_parameterNames = m_plan->parameterNames();
    m_parameterValues.assign(size_t(m_parameterNames.size()), QVariant());
    // A value set before the statement grew keeps its place under the same name.
    for (qsizetype i = 0; i < m_parameterNames.size(); ++i) {
        const qsizetype was = old.indexOf(m_parameterNames[i]);
        if (was >= 0)
            m_parameterValues[size_t(i)] = oldValues[size_t(was)];
    }
}

void AdoQuery::setParameter(const QString& name, const QString& value)
{
    for (qsizetype i = 0; i < m_parameterNames.size(); ++i) {
        if (m_parameterNames[i].compare(name, Qt::CaseInsensitive) == 0) {
            m_parameterValues[size_t(i)] = value;
            return;
        }
    }
    throw QueryParameterError(QStringLiteral("%1: Parameter '%2' not found").arg(m_name, name));
}

void AdoQuery::bindParameters(DbCursor& cursor) const
{
    const auto& occurrences = m_plan->occurrences();
    for (size_t n = 0; n < occurrences.size(); ++n) {
        const QVariant& value = m_parameterValues[size_t(occurrences[n].nameIndex)];
        if (value.isValid())
            cursor.bindText(int(n) + 1, value.toString());
        else
            cursor.bindNull(int(n) + 1);
    }
}

void AdoQuery::open()
{
    if (m_snapshot)
        return;
    if (!m_connection)
        throw QueryStateError(QStringLiteral("%1: Missing Connection or ConnectionString").arg(m_name));
    DbBackend& db = m_connection->backend();
    const SqlStatementPlan& plan = *m_plan;
    if (plan.isBlank())
        commandTextMissing();

    std::unique_ptr<DbCursor> cursor;
    bool withRowId = false;
    QString rowIdName;
    std::vector<DbColumnInfo> columnsOfTable;
    if (plan.isSingleTableSelect()) {
        // A table without row ids, or a view, refuses the extra column, and a table whose
        // columns hide every name of the row id has none to offer: then the rows are simply
        // not deletable.
        try {
            columnsOfTable = db.tableColumns(plan.tableText());
            rowIdName = db.rowIdName(columnsOfTable);
            if (!rowIdName.isEmpty()) {
                cursor = db.prepare(plan, rowIdName);
                withRowId = true;
            }
        } catch (const DatabaseError&) {
        }
    }
    if (!cursor)
        cursor = db.prepare(plan);
    const int first = withRowId ? 1 : 0;
    // A server back end knows the result's shape only once the statement has run.
    if (cursor->columnCount() >= 0 && cursor->columnCount() - first <= 0)
        throw QueryStateError(QStringLiteral("%1: CommandText does not return a result set").arg(m_name));
    bindParameters(*cursor);

    bool row = cursor->step();
    const int columnCount = cursor->columnCount() - first;
    if (columnCount <= 0)
        throw QueryStateError(QStringLiteral("%1: CommandText does not return a result set").arg(m_name));

    auto snapshot = std::make_unique<Snapshot>();
    describeColumns(*cursor, first, columnCount, *snapshot);
    if (withRowId) {
        snapshot->table = plan.tableText();
        snapshot->rowIdName = rowIdName;
        for (const Snapshot::Column& column : snapshot->columns) {
            const auto at =
                std::find_if(columnsOfTable.cbegin(), columnsOfTable.cend(), [&](const DbColumnInfo& c) {
                    return c.name.compare(column.name, Qt::CaseInsensitive) == 0;
                });
            snapshot->tableColumns.append(at != columnsOfTable.cend() ? at->name : QString());
        }
    }
    for (; row; row = cursor->step()) {
        if (withRowId)
            snapshot->rowIds.push_back(cursor->value(0));
        for (int c = first; c < first + columnCount; ++c)
            snapshot->cells.push_back(cursor->value(c));
        ++snapshot->rowCount;
    }
    m_snapshot = std::move(snapshot);
    m_current = m_snapshot->rowCount > 0 ? 0 : -1;
    emit opened();
    emit currentChanged(m_current);
}

void AdoQuery::describeColumns(const DbCursor& cursor, int first, int count, Snapshot& snapshot)
{
    for (int c = first; c < first + count; ++c) {
        Snapshot::Column column;
        column.name = cursor.columnName(c);
        const QString declared = cursor.columnDeclaredType(c);
        column.dateTime = DbColumnInfo::isDateTimeType(declared);
        column.displayWidth = displayWidthFor(declared, column.dateTime);
        snapshot.columns.push_back(column);
    }
}

qint64 AdoQuery::openForEach(const std::function<void()>& visit)
{
    close();
    if (!m_connection)
        throw QueryStateError(QStringLiteral("%1: Missing Connection or ConnectionString").arg(m_name));
    if (m_plan->isBlank())
        commandTextMissing();
    std::unique_ptr<DbCursor> cursor = m_connection->backend().prepare(*m_plan);
    // Where the back end can tell before running it, a statement without rows is not run.
    if (cursor->columnCount() == 0)
        throw QueryStateError(QStringLiteral("%1: CommandText does not return a result set").arg(m_name));
    bindParameters(*cursor);
    bool row = cursor->step();
    const int columnCount = cursor->columnCount();
    if (columnCount <= 0)
        throw QueryStateError(QStringLiteral("%1: CommandText does not return a result set").arg(m_name));

    // The one-row window is the snapshot, so that every field read works unchanged.
    m_snapshot = std::make_unique<Snapshot>();
    describeColumns(*cursor, 0, columnCount, *m_snapshot);
    m_snapshot->cells.resize(size_t(columnCount));
    const auto closeWindow = qScopeGuard([this] {
        m_snapshot.reset();
        m_current = -1;
    });
    qint64 rows = 0;
    for (; row; row = cursor->step()) {
        for (int c = 0; c < columnCount; ++c)
            m_snapshot->cells[size_t(c)] = cursor->value(c);
        m_snapshot->rowCount = 1;
        m_current = 0;
        ++rows;
        visit();
    }
    return rows;
}

void AdoQuery::close()
{
    if (!m_snapshot)
        return;
    m_snapshot.reset();
    m_current = -1;
    emit closed();
}

bool AdoQuery::isOpen() const
{
    return m_snapshot != nullptr;
}

int AdoQuery::execSql()
{
    if (!m_connection)
        throw QueryStateError(QStringLiteral("%1: Missing Connection or ConnectionString").arg(m_name));
    DbBackend& db = m_connection->backend();
    if (m_plan->isBlank())
        commandTextMissing();
    std::unique_ptr<DbCursor> cursor = db.prepare(*m_plan);
    bindParameters(*cursor);
    while (cursor->step()) {
    }
    return int(cursor->rowsChanged());
}

void AdoQuery::checkOpen() const
{
    if (!m_snapshot)
        throw QueryStateError(
            QStringLiteral("%1: Cannot perform this operation on a closed dataset").arg(m_name));
}

int AdoQuery::recordCount() const
{
    checkOpen();
    return m_snapshot->rowCount;
}

bool AdoQuery::isEmpty() const
{
    checkOpen();
    return m_snapshot->rowCount == 0;
}

int AdoQuery::recNo() const
{
    return m_current;
}

void AdoQuery::setCurrent(int row)
{
    if (row == m_current)
        return;
    m_current = row;
    emit currentChanged(row);
}

void AdoQuery::setRecNo(int row)
{
    checkOpen();
    if (m_snapshot->rowCount == 0)
        return;
    setCurrent(std::clamp(row, 0, m_snapshot->rowCount - 1));
}

void AdoQuery::first()
{
    setRecNo(0);
}

void AdoQuery::last()
{
    checkOpen();
    setRecNo(m_snapshot->rowCount - 1);
}

int AdoQuery::fieldCount() const
{
    return m_snapshot ? int(m_snapshot->columns.size()) : 0;
}

QString AdoQuery::fieldName(int column) const
{
    if (column < 0 || column >= fieldCount())
        return {};
    return m_snapshot->columns[size_t(column)].name;
}

int AdoQuery::fieldIndex(const QString& name) const
{
    for (int c = 0; c < fieldCount(); ++c)
        if (m_snapshot->columns[size_t(c)].name.compare(name, Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

int AdoQuery::fieldDisplayWidth(int column) const
{
    if (column < 0 || column >= fieldCount())
        return 0;
    return m_snapshot->columns[size_t(column)].displayWidth;
}

int AdoQuery::requireField(const QString& name) const
{
    checkOpen();
    const int column = fieldIndex(name);
    if (column < 0)
        throw QueryStateError(QStringLiteral("%1: Field '%2' not found").arg(m_name, name));
    return column;
}

QString AdoQuery::fieldAsString(const QString& name) const
{
    const int column = requireField(name);
    if (m_current < 0)
        return {};
    return m_snapshot->text(m_current, column);
}

DateTimeValue AdoQuery::fieldAsDateTime(const QString& name) const
{
    const int column = requireField(name);
    if (m_current < 0)
        return {};
    const Cell& cell = m_snapshot->cell(m_current, column);
    if (const auto* i = std::get_if<qint64>(&cell))
        return DateTimeValue(*i);
    if (const auto* d = std::get_if<double>(&cell))
        return DateTimeValue(qint64(*d));
    if (std::holds_alternative<QString>(cell) || std::holds_alternative<QByteArray>(cell)) {
        const QString text = m_snapshot->text(m_current, column);
        if (const auto value = DateTimeCoercion::parse(text))
            return *value;
        throw ConversionError(QStringLiteral("'%1' is not a valid date and time").arg(text));
    }
    return {};
}

QString AdoQuery::valueAsString(int row, int column) const
{
    if (!m_snapshot || row < 0 || row >= m_snapshot->rowCount || column < 0 || column >= fieldCount())
        return {};
    return m_snapshot->text(row, column);
}

void AdoQuery::prepareLocate(const QString& field)
{
    const int column = requireField(field);
    if (m_snapshot->rowCount > 0)
        m_snapshot->index(column);
}

bool AdoQuery::locate(const QString& field, const QString& key)
{
    const int column = requireField(field);
    if (m_snapshot->rowCount == 0)
        return false;
    const Snapshot::LocateIndex& index = m_snapshot->index(column);
    const QString folded = key.toCaseFolded();
    const auto it = std::lower_bound(
        index.keys.begin(), index.keys.end(), folded,
        [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseSensitive) < 0; });
    if (it == index.keys.end())
        return false;
    // An empty key matches only an empty value, not every row.
    const bool match = folded.isEmpty() ? it->isEmpty() : it->startsWith(folded);
    if (!match)
        return false;
    setCurrent(index.rows[size_t(it - index.keys.begin())]);
    return true;
}

bool AdoQuery::canModify() const
{
    // A connection opened for reading (the offline copy of the employee list) gives a
    // read-only dataset, so the list's delete key does nothing there instead of asking
    // first and failing after.
    return m_snapshot && !m_snapshot->table.isEmpty() && m_connection &&
           m_connection->mode() != AdoConnection::Mode::Read;
}

void AdoQuery::deleteCurrent()
{
    checkOpen();
    if (m_snapshot->rowCount == 0)
        throw QueryStateError(
            QStringLiteral("%1: Cannot perform this operation on an empty dataset").arg(m_name));
    if (!canModify())
        throw QueryStateError(QStringLiteral("%1: Cannot modify a read-only dataset").arg(m_name));
    const int row = m_current;
    QStringList columns;
    std::vector<Cell> values;
    for (int c = 0; c < int(m_snapshot->columns.size()); ++c) {
        const QString& column = m_snapshot->tableColumns[c];
        if (column.isEmpty())
            continue;
        columns.append(column);
        values.push_back(m_snapshot->cell(row, c));
    }
    const qint64 deleted = m_connection->backend().deleteRow(
        m_snapshot->table, m_snapshot->rowIdName, m_snapshot->rowIds[size_t(row)], columns, values);
    if (deleted != 1)
        throw DatabaseError(QStringLiteral("Row cannot be located for updating. Some values may have been "
                                           "changed since it was last read."));
    m_snapshot->removeRow(row);
    m_current = m_snapshot->rowCount == 0 ? -1 : std::min(row, m_snapshot->rowCount - 1);
    emit rowDeleted(row);
    emit currentChanged(m_current);
}
