#include "app/EmployeeGrid.h"

#include "app/EmployeeGridModel.h"
#include "app/ErrorReporter.h"
#include "app/MessageBox.h"
#include "app/NoFocusFrameDelegate.h"
#include "query/AdoQuery.h"
#include "platform/VirtualKey.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

EmployeeGrid::EmployeeGrid(QWidget* parent) : QTableView(parent), m_model(new EmployeeGridModel(this))
{
    setModel(m_model);
    verticalHeader()->hide();
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->viewport()->installEventFilter(this);
    setSortingEnabled(false);
    setShowGrid(true);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setAutoScroll(false);
    setDragEnabled(false);
    setFocusPolicy(Qt::StrongFocus);
    setItemDelegate(new NoFocusFrameDelegate(this));

    // Data cells on the tooltip background; the current row in the highlight colours
    // whether or not the list has the focus.
    QPalette pal = palette();
    const QColor infoBack = QApplication::palette().color(QPalette::ToolTipBase);
    pal.setColor(QPalette::Base, infoBack);
    pal.setColor(QPalette::AlternateBase, infoBack);
    for (auto group : {QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
        pal.setColor(group, QPalette::HighlightedText,
                     pal.color(QPalette::Active, QPalette::HighlightedText));
    }
    setPalette(pal);
    horizontalHeader()->setStyleSheet(QStringLiteral(
        "QHeaderView::section { background-color: rgb(0, 128, 0); color: palette(window-text);"
        " border: none; border-right: 1px solid palette(mid); border-bottom: 1px solid palette(mid);"
        " padding: 0px; }"));

    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &EmployeeGrid::onScrollAction);
    connect(m_model, &EmployeeGridModel::currentRowChanged, this, &EmployeeGrid::followCurrent);
    connect(m_model, &EmployeeGridModel::layoutReset, this, &EmployeeGrid::applyLayout);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (AdoQuery* query = openQuery())
            followCurrent(query->recNo());
    });
    applyLayout();
}

void EmployeeGrid::setDataSource(DataSource* source)
{
    m_model->setDataSource(source);
}

AdoQuery* EmployeeGrid::openQuery() const
{
    AdoQuery* query = m_model->query();
    return query && query->isOpen() ? query : nullptr;
}

int EmployeeGrid::dataRowHeight() const
{
    // Text height of "Wg", 3 pixels of padding and the 1-pixel grid line.
    return QFontMetrics(font()).height() + 3 + 1;
}

int EmployeeGrid::titleRowHeight() const
{
    return QFontMetrics(horizontalHeader()->font()).height() + 4;
}

void EmployeeGrid::applyLayout()
{
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(dataRowHeight());
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setFixedHeight(titleRowHeight());

    const QFontMetrics cells(font());
    const QFontMetrics title(horizontalHeader()->font());
    for (int column = 0; column < 2; ++column) {
        int width = kUnboundColumnWidth;
        const int field = m_model->fieldOfColumn(column);
        if (field >= 0) {
            const int chars = m_model->query()->fieldDisplayWidth(field);
            width = std::max(chars * cells.horizontalAdvance(u'0') + 4,
                             title.horizontalAdvance(EmployeeGridModel::layoutTitle(column)) + 4);
        }
        setColumnWidth(column, width);
    }
    if (AdoQuery* query = openQuery(); query && query->recordCount() > 0)
        followCurrent(query->recNo());
    else
        selectionModel()->clearSelection();
}

int EmployeeGrid::visibleRowCount() const
{
    return std::max(1, viewport()->height() / std::max(1, dataRowHeight()));
}

int EmployeeGrid::topRow() const
{
    return verticalScrollBar()->value();
}

void EmployeeGrid::setTopRow(int row)
{
    verticalScrollBar()->setValue(row);
}

void EmployeeGrid::keepVisible(int row)
{
    const int n = visibleRowCount();
    int top = topRow();
    if (row < top)
        top = row;
    else if (row >= top + n)
        top = row - n + 1;
    setTopRow(top);
}

void EmployeeGrid::selectRow(int row)
{
    selectionModel()->setCurrentIndex(m_model->index(row, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void EmployeeGrid::followCurrent(int row)
{
    if (row < 0 || !m_model->hasRows()) {
        selectionModel()->clearSelection();
        return;
    }
    selectRow(row);
    keepVisible(row);
}

void EmployeeGrid::moveToRow(int row)
{
    AdoQuery* query = openQuery();
    if (!query || query->recordCount() == 0)
        return;
    row = std::clamp(row, 0, query->recordCount() - 1);
    // A change of the current row comes back through followCurrent.
    if (row == query->recNo())
        followCurrent(row);
    else
        query->setRecNo(row);
}

void EmployeeGrid::centreOnRow(int row)
{
    AdoQuery* query = openQuery();
    if (!query || query->recordCount() == 0)
        return;
    const int n = visibleRowCount();
    const int maxTop = std::max(0, query->recordCount() - n);
    setTopRow(std::clamp(row - (n - 1) / 2, 0, maxTop));
    query->setRecNo(row);
    selectRow(row);
}

void EmployeeGrid::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    if (m_keyDown) {
        quint16 key = virtualKeyOf(event);
        m_keyDown(this, key, event->modifiers());
        // A key whose handler took the focus elsewhere (a digit, to the number box) is
        // typed where the focus went: a number typed from the list arrives there whole.
        if (QWidget* target = QApplication::focusWidget(); target && target != this) {
            QCoreApplication::sendEvent(target, event);
            return;
        }
    }
    AdoQuery* query = openQuery();
    if (!query || query->recordCount() == 0)
        return;

    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    const int current = query->recNo();
    const int last = query->recordCount() - 1;
    const int n = visibleRowCount();
    const int top = topRow();
    const int bottom = std::min(last, top + n - 1);

    switch (event->key()) {
    case Qt::Key_Up:
        moveToRow(ctrl ? top : current - 1);
        break;
    case Qt::Key_Down:
        moveToRow(ctrl ? bottom : current + 1);
        break;
    case Qt::Key_Left:
        if (!ctrl)
            moveToRow(current - 1);
        break;
    case Qt::Key_Right:
        if (!ctrl)
            moveToRow(current + 1);
        break;
    case Qt::Key_Home:
        moveToRow(0);
        break;
    case Qt::Key_End:
        moveToRow(last);
        break;
    case Qt::Key_PageUp:
        if (ctrl) {
            moveToRow(top);
        } else {
            setTopRow(std::max(0, top - n));
            moveToRow(current - n);
        }
        break;
    case Qt::Key_PageDown:
        if (ctrl) {
            moveToRow(bottom);
        } else {
            setTopRow(std::min(std::max(0, last - n + 1), top + n));
            moveToRow(current + n);
        }
        break;
    case Qt::Key_Delete:
        if (ctrl)
            deleteCurrent();
        break;
    default:
        break;
    }
}

void EmployeeGrid::deleteCurrent()
{
    AdoQuery* query = openQuery();
    if (!query || query->recordCount() == 0 || !query->canModify())
        return;
    if (!MessageBox::confirm(this, tr("Confirm"), tr("Delete record?")))
        return;
    // A refusal (the database locked, a list that is only a copy) is said in the error box.
    ErrorReporter::guard([this, query] {
        if (m_delete)
            m_delete(*query);
        else
            query->deleteCurrent();
    });
}

void EmployeeGrid::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && m_model->hasRows())
        moveToRow(index.row());
    event->accept();
}

void EmployeeGrid::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void EmployeeGrid::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void EmployeeGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
}

bool EmployeeGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == horizontalHeader()->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        setFocus(Qt::MouseFocusReason);
        return true;
    }
    return QTableView::eventFilter(watched, event);
}

void EmployeeGrid::wheelEvent(QWheelEvent* event)
{
    const int notches = event->angleDelta().y() / 120;
    const int steps = std::abs(notches) * QApplication::wheelScrollLines();
    for (int i = 0; i < steps; ++i)
        verticalScrollBar()->triggerAction(notches > 0 ? QAbstractSlider::SliderSingleStepSub
                                                       : QAbstractSlider::SliderSingleStepAdd);
    event->accept();
}

void EmployeeGrid::onScrollAction(int action)
{
    setFocus(Qt::MouseFocusReason);
    AdoQuery* query = openQuery();
    if (!query || query->recordCount() == 0)
        return;
    const int current = query->recNo();
    const int last = query->recordCount() - 1;
    const int n = visibleRowCount();
    const int top = topRow();
    int target = current;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        target = top - 1;
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        target = std::min(last, top + n);
        break;
    case QAbstractSlider::SliderPageStepSub:
        target = current - n;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        target = current + n;
        break;
    case QAbstractSlider::SliderToMinimum:
        target = 0;
        break;
    case QAbstractSlider::SliderToMaximum:
        target = last;
        break;
    case QAbstractSlider::SliderMove: {
        // The thumb spans the positions of the top row, fewer than the rows; spread over
        // every row so that the top end reaches the first and the bottom end the last.
        const int position = verticalScrollBar()->sliderPosition();
        const int maximum = verticalScrollBar()->maximum();
        target = maximum > 0 ? int((qint64(position) * last + maximum / 2) / maximum) : position;
        break;
    }
    default:
        return;
    }
    target = std::clamp(target, 0, last);
    // The slider has already taken its new position; the row is made current inside it.
    const int newTop = verticalScrollBar()->sliderPosition();
    query->setRecNo(target);
    selectRow(target);
    verticalScrollBar()->setSliderPosition(std::clamp(newTop, target - n + 1, target));
}
