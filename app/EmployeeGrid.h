#pragma once

#include "app/KeyHandler.h"

#include <QTableView>

#include <functional>

class AdoQuery;
class DataSource;
class EmployeeGridModel;

// The employee list: a read-only browse of the employee query with the whole current row
// highlighted, moved by keys, mouse, scroll bar and wheel. The query's current row is
// the one truth; the view follows it.
class EmployeeGrid : public QTableView
{
    Q_OBJECT
public:
    explicit EmployeeGrid(QWidget* parent = nullptr);

    void setDataSource(DataSource* source);
    EmployeeGridModel* gridModel() const { return m_model; }
    void setKeyDownHandler(KeyHandler handler) { m_keyDown = std::move(handler); }
    // What deleting the current employee does once the operator confirmed; without one the
    // query deletes its current row itself.
    void setDeleteHandler(std::function<void(AdoQuery&)> handler) { m_delete = std::move(handler); }

    int dataRowHeight() const;
    int titleRowHeight() const;
    // Data rows that fit wholly into the visible area (at least 1).
    int visibleRowCount() const;
    int topRow() const;
    void setTopRow(int row);
    // Makes a row current and scrolls as little as needed to show it.
    void moveToRow(int row);
    // Makes a row current and shows it in the middle of the visible rows, as far as the
    // data reaches.
    void centreOnRow(int row);
    // Asks for confirmation and deletes the current employee.
    void deleteCurrent();

    static constexpr int kUnboundColumnWidth = 64;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AdoQuery* openQuery() const;
    void applyLayout();
    void selectRow(int row);
    void followCurrent(int row);
    void onScrollAction(int action);
    void keepVisible(int row);

    EmployeeGridModel* m_model;
    KeyHandler m_keyDown;
    std::function<void(AdoQuery&)> m_delete;
};
