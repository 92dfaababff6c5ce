#pragma once

#include <QAbstractTableModel>
#include <QPointer>

class AdoQuery;
class DataSource;

// Shows the employee query's snapshot in place: every cell is read from the query when
// drawn, nothing is copied per row. Two fixed columns, number and name. A closed query
// shows one blank row; an open but empty one a single empty row.
class EmployeeGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit EmployeeGridModel(QObject* parent = nullptr);

    void setDataSource(DataSource* source);
    AdoQuery* query() const;
    // Open and holding at least one row: the rows on screen are the query's rows.
    bool hasRows() const;
    bool isOpen() const;

    // Field of each column; -1 when the query lacks it (or is closed).
    int fieldOfColumn(int column) const;
    static QString columnField(int column);
    static QString columnTitle(int column);
    // The title the column's width is measured by: the Chinese one in every language, so
    // that the grid does not move when the terminal speaks another.
    static QString layoutTitle(int column);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void currentRowChanged(int row);
    void layoutReset();

private:
    void attach(AdoQuery* query);
    void refreshFields();

    QPointer<DataSource> m_source;
    QPointer<AdoQuery> m_query;
    int m_fields[2] = {-1, -1};
};
