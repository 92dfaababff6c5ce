#include "GuiTestSupport.h"

#include "app/EmployeeGrid.h"
#include "app/EmployeeGridModel.h"
#include "app/NumberEdit.h"
#include "app/SimpleStatusBar.h"
#include "query/AdoQuery.h"
#include "support/SqliteFile.h"

#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

#include <functional>

namespace {

int countRows(const QString& path, const char* sql)
{
    return int(TestSupport::SqliteFile(path, TestSupport::SqliteFile::Mode::ReadOnly)
                   .scalar(QString::fromUtf8(sql)));
}

} // namespace

class TestEmployeeGrid : public TerminalTestBase
{
    Q_OBJECT

    EmployeeGrid* grid() const { return m_form->DBGridYg; }
    int current() const { return m_form->YgQry->recNo(); }

    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(grid(), k, mods); }

private slots:
    void cleanup() { tearDown(); }

    void looks()
    {
        open(numbered(5));
        const QFontMetrics fm(grid()->font());
        QCOMPARE(grid()->verticalHeader()->isVisible(), false);
        QCOMPARE(grid()->verticalHeader()->defaultSectionSize(), fm.height() + 4);
        QCOMPARE(grid()->horizontalHeader()->height(),
                 QFontMetrics(grid()->horizontalHeader()->font()).height() + 4);
        // num is VARCHAR(10), name VARCHAR(20): width of "0" times the length, plus 4, at
        // least the title's width plus 4.
        const int zero = fm.horizontalAdvance(u'0');
        const QFontMetrics title(grid()->horizontalHeader()->font());
        QCOMPARE(grid()->columnWidth(0),
                 std::max(10 * zero + 4, title.horizontalAdvance(QStringLiteral("员工编号")) + 4));
        QCOMPARE(grid()->columnWidth(1),
                 std::max(20 * zero + 4, title.horizontalAdvance(QStringLiteral("姓名")) + 4));
        auto* model = grid()->gridModel();
        QCOMPARE(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("员工编号"));
        QCOMPARE(model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("姓名"));
        QCOMPARE(model->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
        QVERIFY(model->data(model->index(0, 0), Qt::TextAlignmentRole).toInt() & Qt::AlignLeft);
        QCOMPARE(grid()->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        QVERIFY(!grid()->horizontalHeader()->sectionsMovable());
        QVERIFY(!grid()->isSortingEnabled());
        QVERIFY(grid()->showGrid());

        // The current row stays highlighted while the number box has the focus.
        m_form->EditYg->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(m_form->EditYg->hasFocus());
        QVERIFY(grid()->selectionModel()->isRowSelected(0, {}));
        QCOMPARE(grid()->palette().color(QPalette::Inactive, QPalette::Highlight),
                 grid()->palette().color(QPalette::Active, QPalette::Highlight));
        QImage shot = grid()->grab().toImage();
        const QPoint inRow =
            grid()->viewport()->mapTo(grid(), grid()->visualRect(grid()->gridModel()->index(0, 1)).center());
        QCOMPARE(shot.pixelColor(inRow.x() + 30, inRow.y()),
                 grid()->palette().color(QPalette::Active, QPalette::Highlight));
        const QPoint title0 = QPoint(3, grid()->horizontalHeader()->height() / 2 + 1);
        QCOMPARE(shot.pixelColor(title0), QColor(0, 128, 0));
    }

    void navigationKeys()
    {
        open(numbered(100));
        const int n = grid()->visibleRowCount();
        QVERIFY(n > 10 && n < 50);
        key(Qt::Key_Up);
        QCOMPARE(current(), 0); // Up on the first row stays
        key(Qt::Key_Down);
        QCOMPARE(current(), 1);
        key(Qt::Key_Right);
        QCOMPARE(current(), 2);
        key(Qt::Key_Left);
        QCOMPARE(current(), 1);
        key(Qt::Key_PageDown);
        QCOMPARE(current(), 1 + n);
        key(Qt::Key_PageUp);
        QCOMPARE(current(), 1);
        key(Qt::Key_End);
        QCOMPARE(current(), 99);
        key(Qt::Key_Down);
        QCOMPARE(current(), 99); // no row is appended
        QCOMPARE(grid()->gridModel()->rowCount(), 100);
        key(Qt::Key_Home);
        QCOMPARE(current(), 0);
        key(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(current(), 99);
        key(Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(current(), 0);
        key(Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(current(), n - 1);
        key(Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(current(), 0);
        key(Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(current(), n - 1);
        key(Qt::Key_PageDown);
        key(Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(current(), grid()->topRow());
        const int before = current();
        for (Qt::Key k : {Qt::Key_Escape, Qt::Key_F2, Qt::Key_Insert, Qt::Key_Delete, Qt::Key_A})
            key(k);
        key(Qt::Key_Left, Qt::ControlModifier);
        key(Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(current(), before);
        QCOMPARE(QApplication::focusWidget(), grid());
        QCOMPARE(m_fx->logContents(), QByteArray());
    }

    void mouseRules()
    {
        open(numbered(100));
        m_form->EditYg->setFocus(Qt::MouseFocusReason);
        const QRect row3 = grid()->visualRect(grid()->gridModel()->index(3, 1));
        QTest::mousePress(grid()->viewport(), Qt::RightButton, {}, row3.center());
        QCOMPARE(current(), 3);
        QCOMPARE(QApplication::focusWidget(), grid());
        QTest::mouseRelease(grid()->viewport(), Qt::RightButton, {}, row3.center());

        m_form->EditYg->setFocus(Qt::MouseFocusReason);
        QTest::mouseClick(grid()->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(current(), 3);
        QCOMPARE(QApplication::focusWidget(), grid());
        QCOMPARE(m_form->YgQry->valueAsString(0, m_form->YgQry->fieldIndex("num")),
                 QStringLiteral("0001")); // no sorting

        const int n = grid()->visibleRowCount();
        QScrollBar* bar = grid()->verticalScrollBar();
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(current(), grid()->topRow() + n - 1);
        QCOMPARE(current(), n);
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(current(), 99);
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(current(), 0);
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(current(), n);

        const int top = grid()->topRow();
        QWheelEvent wheel(QPointF(20, 20), grid()->viewport()->mapToGlobal(QPointF(20, 20)), {},
                          QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid()->viewport(), &wheel);
        QCOMPARE(grid()->topRow(), top + QApplication::wheelScrollLines());
        QCOMPARE(current(), grid()->topRow() + n - 1);
    }

    // The 12-pixel Song text of the list is crisp and dark: every pixel of a number is the
    // text colour itself or the cell's background, with no grey smoothing between them.
    void listTextIsCrispAndDark()
    {
        open(numbered(5));
        const QRect cell = grid()->visualRect(grid()->gridModel()->index(2, 0));
        const QImage shot = grid()->viewport()->grab().toImage();
        if (qEnvironmentVariableIsSet("TAVELO_SAVE_SHOTS"))
            shot.save(QStringLiteral("list_text.png"));
        const QColor text = grid()->palette().color(QPalette::Text);
        const QColor back = grid()->palette().color(QPalette::Base);
        int textPixels = 0;
        for (int y = cell.top(); y < cell.bottom(); ++y)
            for (int x = cell.left(); x < cell.right(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (c == text)
                    ++textPixels;
                else
                    QVERIFY2(c == back,
                             qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(c.name())));
            }
        QVERIFY2(textPixels > 40, qPrintable(QString::number(textPixels))); // "0003" is drawn
        // The bitmap face keeps the 12-pixel metrics the layout is drawn for.
        QCOMPARE(QFontMetrics(grid()->font()).height(), 12);
    }

    // The row highlight is the list's only marker: a mouse click, like the keys, leaves no
    // focus frame on a cell of the current row.
    void clickedRowShowsNoFocusFrame()
    {
        open(numbered(10));
        const QModelIndex first = grid()->gridModel()->index(3, 0);
        const QRect cell = grid()->visualRect(first);
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(current(), 3);
        QVERIFY(grid()->hasFocus());
        const QImage shot = grid()->viewport()->grab().toImage();
        if (qEnvironmentVariableIsSet("TAVELO_SAVE_SHOTS"))
            shot.save(QStringLiteral("clicked_row.png"));
        // Around the cell's edges, inside the grid lines, nothing but the highlight.
        const QColor highlight = grid()->palette().color(QPalette::Active, QPalette::Highlight);
        const QRect inside = cell.adjusted(0, 0, -1, -1);
        for (int x = inside.left(); x <= inside.right(); ++x)
            for (int y : {inside.top(), inside.bottom()})
                QCOMPARE(shot.pixelColor(x, y), highlight);
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x : {inside.left(), inside.right()})
                QCOMPARE(shot.pixelColor(x, y), highlight);
    }

    // The thumb dragged with the mouse: its two ends reach the first and the last row, and
    // a position between them the row at that fraction of the list.
    void thumbDragCoversEveryRow()
    {
        open(numbered(1000));
        QScrollBar* bar = grid()->verticalScrollBar();
        const auto thumb = [bar] {
            QStyleOptionSlider option;
            option.initFrom(bar);
            option.subControls = QStyle::SC_All;
            option.orientation = bar->orientation();
            option.minimum = bar->minimum();
            option.maximum = bar->maximum();
            option.sliderPosition = bar->sliderPosition();
            option.sliderValue = bar->value();
            option.singleStep = bar->singleStep();
            option.pageStep = bar->pageStep();
            return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                                bar);
        };
        const auto drag = [&](int toY) {
            const QPoint from = thumb().center();
            QTest::mousePress(bar, Qt::LeftButton, {}, from);
            QTest::mouseMove(bar, QPoint(from.x(), toY));
            QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(from.x(), toY));
        };
        const auto currentIsShown = [&] {
            return grid()->selectionModel()->isRowSelected(current(), {}) && current() >= grid()->topRow() &&
                   current() < grid()->topRow() + grid()->visibleRowCount();
        };

        m_form->EditYg->setFocus(Qt::MouseFocusReason);
        drag(bar->height() + 50); // past the bottom end of the trough
        QCOMPARE(current(), 999);
        QVERIFY(currentIsShown());
        QCOMPARE(QApplication::focusWidget(), grid());
        QTest::keyClick(grid(), Qt::Key_Return);
        QVERIFY(m_form->StatusLine->text().startsWith(QStringLiteral("【1000 ")));

        drag(-50);
        QCOMPARE(current(), 0);
        QVERIFY(currentIsShown());

        // Halfway down the trough is halfway down the list.
        const QRect top = thumb();
        drag(top.center().y() + (bar->height() - 2 * top.top() - top.height()) / 2);
        QVERIFY2(std::abs(current() - 500) <= 15, qPrintable(QString::number(current())));
        QVERIFY(currentIsShown());
    }

    void deleteConfirmedRemovesExactlyThatEmployee()
    {
        open(numbered(3));
        m_form->StatusLine->setText(QStringLiteral("unchanged"));
        key(Qt::Key_Down);
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(MessageBox::shown().size(), size_t(1));
        const auto box = MessageBox::shown().front();
        QCOMPARE(box.caption, QStringLiteral("Confirm"));
        QCOMPARE(box.text, QStringLiteral("Delete record?"));
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(countRows(m_fx->dbPath(), "SELECT count(*) FROM employ"), 2);
        QCOMPARE(countRows(m_fx->dbPath(), "SELECT count(*) FROM employ WHERE num='0002'"), 0);
        QCOMPARE(grid()->gridModel()->rowCount(), 2);
        QCOMPARE(m_form->YgQry->fieldAsString("num"), QStringLiteral("0003")); // the following row
        MessageBox::setNextAnswer(QMessageBox::Ok);
        key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(m_form->YgQry->fieldAsString("num"), QStringLiteral("0001")); // the new last row
        QCOMPARE(m_form->StatusLine->text(), QStringLiteral("unchanged"));
        QCOMPARE(countRows(m_fx->dbPath(), "SELECT count(*) FROM sgdjb"), 0);
    }

    void deleteCancelledOrEscapedChangesNothing()
    {
        open(numbered(3));
        // The real box: Escape and closing it answer Cancel, Enter takes the default OK.
        const auto answerWith = [](std::function<void(QMessageBox*)> action) {
            QTimer::singleShot(50, [action] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                QCOMPARE(box->defaultButton(), box->button(QMessageBox::Ok));
                action(box);
            });
        };
        answerWith([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        key(Qt::Key_Delete, Qt::ControlModifier);
        answerWith([](QMessageBox* box) { box->close(); });
        key(Qt::Key_Delete, Qt::ControlModifier);
        answerWith([](QMessageBox* box) { box->button(QMessageBox::Cancel)->click(); });
        key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(countRows(m_fx->dbPath(), "SELECT count(*) FROM employ"), 3);
        QCOMPARE(grid()->gridModel()->rowCount(), 3);

        answerWith([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
        key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(countRows(m_fx->dbPath(), "SELECT count(*) FROM employ"), 2);
    }

    void refusedDeleteKeepsRowAndShowsError()
    {
        open(numbered(3));
        // Another program holds the write lock for longer than the busy timeout.
        const TestSupport::SqliteFile other(m_fx->dbPath());
        other.exec(QStringLiteral("BEGIN EXCLUSIVE"));
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Ok); // confirm
        MessageBox::setNextAnswer(QMessageBox::Ok); // the error box
        key(Qt::Key_Delete, Qt::ControlModifier);
        other.exec(QStringLiteral("ROLLBACK"));
        QCOMPARE(MessageBox::shown().size(), size_t(2));
        QCOMPARE(MessageBox::shown().back().icon, QMessageBox::Critical);
        QVERIFY(MessageBox::shown().back().text.endsWith(u'.'));
        QCOMPARE(grid()->gridModel()->rowCount(), 3);
        QCOMPARE(countRows(m_fx->dbPath(), "SELECT count(*) FROM employ"), 3);
        QCOMPARE(m_form->YgQry->fieldAsString("num"), QStringLiteral("0001"));
    }

    void emptyListLooksAndDoesNothing()
    {
        open({});
        QCOMPARE(grid()->gridModel()->rowCount(), 1);
        QVERIFY(grid()->columnWidth(0) != EmployeeGrid::kUnboundColumnWidth ||
                grid()->columnWidth(1) != EmployeeGrid::kUnboundColumnWidth);
        MessageBox::clearShown();
        for (Qt::Key k : {Qt::Key_Down, Qt::Key_End, Qt::Key_PageDown})
            key(k);
        key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(MessageBox::shown().size(), size_t(0));
        QCOMPARE(m_form->YgQry->recNo(), -1);
    }

    void closedQueryLooks()
    {
        open({}, false);
        QCOMPARE(grid()->gridModel()->rowCount(), 1);
        QCOMPARE(grid()->gridModel()->columnCount(), 2);
        QCOMPARE(grid()->columnWidth(0), 64);
        QCOMPARE(grid()->columnWidth(1), 64);
        MessageBox::clearShown();
        for (Qt::Key k : {Qt::Key_Down, Qt::Key_End})
            key(k);
        key(Qt::Key_Delete, Qt::ControlModifier);
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {},
                          grid()->visualRect(grid()->gridModel()->index(0, 0)).center());
        QCOMPARE(MessageBox::shown().size(), size_t(0));
        QCOMPARE(QApplication::focusWidget(), grid());
    }
};

TAVELO_GUI_TEST_MAIN(TestEmployeeGrid)
#include "test_employeegrid.moc"
