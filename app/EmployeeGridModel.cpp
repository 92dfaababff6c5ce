#include "app/EmployeeGridModel.h"

#include "query/AdoQuery.h"
#include "query/DataSource.h"
#include "query/Statements.h"

EmployeeGridModel::EmployeeGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void EmployeeGridModel::setDataSource(DataSource* source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (source)
        connect(source, &DataSource::dataSetChanged, this,
                [this] { attach(m_source ? m_source->dataSet() : nullptr); });
    attach(source ? source->dataSet() : nullptr);
}

void EmployeeGridModel::attach(AdoQuery* query)
{
    if (m_query == query)
        return;
    beginResetModel();
    if (m_query)
        disconnect(m_query, nullptr, this, nullptr);
    m_query = query;
    if (query) {
        auto reset = [this] {
            beginResetModel();
            refreshFields();
            endResetModel();
            emit layoutReset();
        };
        connect(query, &AdoQuery::opened, this, reset);
        connect(query, &AdoQuery::closed, this, reset);
        connect(query, &AdoQuery::currentChanged, this, &EmployeeGridModel::currentRowChanged);
        connect(query, &AdoQuery::rowDeleted, this, [this](int row) {
            if (m_query && m_query->recordCount() == 0) {
                // The last row is gone: the list falls back to its single empty row.
                beginResetModel();
                endResetModel();
                emit layoutReset();
                return;
            }
            beginRemoveRows({}, row, row);
            endRemoveRows();
        });
    }
    refreshFields();
    endResetModel();
    emit layoutReset();
}

void EmployeeGridModel::refreshFields()
{
    for (int c = 0; c < 2; ++c)
        m_fields[c] = isOpen() ? m_query->fieldIndex(columnField(c)) : -1;
}

AdoQuery* EmployeeGridModel::query() const
{
    return m_query;
}

bool EmployeeGridModel::isOpen() const
{
    return m_query && m_query->isOpen();
}

bool EmployeeGridModel::hasRows() const
{
    return isOpen() && m_query->recordCount() > 0;
}

int EmployeeGridModel::fieldOfColumn(int column) const
{
    return column >= 0 && column < 2 ? m_fields[column] : -1;
}

QString EmployeeGridModel::columnField(int column)
{
    return column == 0 ? Statements::kNum : Statements::kName;
}

namespace {

const char* const kColumnTitles[] = {QT_TRANSLATE_NOOP("EmployeeGridModel", "员工编号"),
                                     QT_TRANSLATE_NOOP("EmployeeGridModel", "姓名")};

} // namespace

QString EmployeeGridModel::columnTitle(int column)
{
    return tr(kColumnTitles[column == 0 ? 0 : 1]);
}

QString EmployeeGridModel::layoutTitle(int column)
{
    return QString::fromUtf8(kColumnTitles[column == 0 ? 0 : 1]);
}

int EmployeeGridModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return hasRows() ? m_query->recordCount() : 1;
}

int EmployeeGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant EmployeeGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole || !hasRows())
        return {};
    const int field = m_fields[index.column()];
    if (field < 0)
        return {};
    return m_query->valueAsString(index.row(), field);
}

QVariant EmployeeGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section > 1)
        return {};
    if (role == Qt::DisplayRole)
        return columnTitle(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignCenter);
    return {};
}

Qt::ItemFlags EmployeeGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
