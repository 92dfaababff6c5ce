#include "GuiTestSupport.h"

#include "app/CardPanel.h"
#include "app/EmployeeGrid.h"
#include "app/EmployeeGridModel.h"
#include "app/NumberEdit.h"
#include "app/SimpleStatusBar.h"
#include "app/TroubleLine.h"
#include "controls/RxClock.h"
#include "platform/QueryStateError.h"
#include "platform/gui/FontSubstitutes.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "support/TestSupport.h"

#include <cmath>

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

class TestQuorelMain : public QObject
{
    Q_OBJECT

private slots:
    void windowLooks()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        QCOMPARE(form->windowTitle(), QStringLiteral("【Tavelo】模拟考勤机"));
        QCOMPARE(form->size(), QSize(589, 441));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        const Qt::WindowFlags flags = form->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(!flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(form->font().family(), QStringLiteral("宋体"));
        QCOMPARE(form->font().pixelSize(), 12);
        QVERIFY(!QApplication::windowIcon().pixmap(32, 32).isNull());

        const struct
        {
            const char* name;
            QRect geometry;
        } controls[] = {
            {"StatusLine", {0, 418, 589, 23}},  {"DBGridYg", {8, 8, 209, 401}},
            {"RxClockHT", {232, 8, 345, 81}},   {"ButtonPower", {368, 384, 75, 25}},
            {"PanelCard", {232, 96, 345, 209}}, {"EditYg", {232, 352, 345, 20}},
        };
        for (const auto& control : controls) {
            auto* widget = form->findChild<QWidget*>(QString::fromLatin1(control.name));
            QVERIFY2(widget, control.name);
            QCOMPARE(widget->geometry(), control.geometry);
        }
        QCOMPARE(form->RxClockHT->color(), QColor(128, 128, 0));
        QCOMPARE(form->RxClockHT->bevelOuter(), RxClock::bvLowered);
        QCOMPARE(form->RxClockHT->bevelInner(), RxClock::bvRaised);
        QCOMPARE(form->RxClockHT->borderStyle(), RxClock::bsSingle);
        QCOMPARE(form->RxClockHT->font().pixelSize(), 32);
        QVERIFY(form->RxClockHT->font().bold());
        QCOMPARE(QFontInfo(form->RxClockHT->font()).family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(QFontInfo(form->font()).family(), QStringLiteral("AR PL UMing CN"));
        QCOMPARE(form->ButtonPower->text(), QStringLiteral("电源关"));
        QCOMPARE(form->PanelCard->caption(), QStringLiteral("读卡区"));
        QCOMPARE(form->PanelCard->font().pixelSize(), 24);
        QVERIFY(form->PanelCard->font().bold());
        QCOMPARE(form->PanelCard->palette().color(QPalette::Window), QColor(0, 0, 128));
        QCOMPARE(form->PanelCard->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(form->EditYg->text(), QString());
        QCOMPARE(form->StatusLine->text(), QString());
        QVERIFY(!form->StatusLine->isSizeGripEnabled());
        for (QWidget* w : {static_cast<QWidget*>(form->PanelCard), static_cast<QWidget*>(form->RxClockHT),
                           static_cast<QWidget*>(form->StatusLine)})
            QCOMPARE(w->focusPolicy(), Qt::NoFocus);
    }

    // The card area's raised bevel and the clock's bevels are drawn in the same system
    // colours, seen on the window as drawn.
    void cardAndClockBevelsShareTheSystemColours()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const QImage shot = form->grab().toImage();
        const QRect card = form->PanelCard->geometry();
        const QRect clock = form->RxClockHT->geometry();
        const QColor shadow(128, 128, 128);
        QCOMPARE(shot.pixelColor(clock.topLeft()), shadow); // the clock's lowered outer edge
        QCOMPARE(shot.pixelColor(card.bottomRight()), shadow);
        QCOMPARE(shot.pixelColor(card.right(), card.center().y()), shadow);
        QCOMPARE(shot.pixelColor(card.center().x(), card.bottom()), shadow);
        QCOMPARE(shot.pixelColor(card.topLeft()), QColor(Qt::white));
        QCOMPARE(shot.pixelColor(card.left(), card.center().y()), QColor(Qt::white));
        QCOMPARE(shot.pixelColor(card.center().x(), card.top() + 1), QColor(0, 0, 128));
    }

    void otherFaceHeightScalesTheLayout()
    {
        // A substitute whose "0" is not 12 pixels high scales positions, sizes and fonts.
        QFont::removeSubstitutions(QStringLiteral("宋体"));
        QFont::insertSubstitution(QStringLiteral("宋体"), QStringLiteral("DejaVu Serif"));
        QFont probe(QStringLiteral("宋体"));
        probe.setPixelSize(12);
        const int height = QFontMetrics(probe).height();
        TerminalFixture fx;
        auto form = fx.makeForm();
        QFont::removeSubstitutions(QStringLiteral("宋体"));
        FontSubstitutes::install();
        // DejaVu Serif comes with the project's packages and is taller than 12 pixels; a face of
        // the design height would test nothing here, so it fails rather than skips.
        QVERIFY2(height != 12, "the substitute face has the design height: install fonts-dejavu-core");
        const double f = height / 12.0;
        const auto s = [f](int v) { return int(std::lround(v * f)); };
        QCOMPARE(form->size(), QSize(s(589), s(441)));
        QCOMPARE(form->DBGridYg->geometry(), QRect(s(8), s(8), s(209), s(401)));
        QCOMPARE(form->PanelCard->font().pixelSize(), s(24));
        QCOMPARE(form->RxClockHT->font().pixelSize(), s(32));
        QCOMPARE(form->StatusLine->geometry(), QRect(0, s(441) - s(23), s(589), s(23)));
    }

    void creationTouchesNoDatabase()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        QVERIFY(!form->ADOConnectionYg->connected());
        QVERIFY(!form->YgQry->isOpen());
        QVERIFY(!form->RecordQry->isOpen());
        QCOMPARE(form->RecordQry->connection(), nullptr);
    }

    void tabOrderAndFirstFocus()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101", "0102"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), form->DBGridYg);
        QWidget* expected[] = {form->ButtonPower, form->EditYg, form->DBGridYg};
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), form->EditYg);
        QCOMPARE(form->StatusLine->text(), QString()); // plain Tab never swipes
    }

    void hintOnlyOnCardArea()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 500);

        for (QWidget* other :
             {static_cast<QWidget*>(form->DBGridYg), static_cast<QWidget*>(form->EditYg),
              static_cast<QWidget*>(form->ButtonPower), static_cast<QWidget*>(form->RxClockHT)}) {
            QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), other->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(other, &help);
            QVERIFY(!QToolTip::isVisible());
        }
        const QPoint inside(20, 20);
        QHelpEvent help(QEvent::ToolTip, inside, form->PanelCard->mapToGlobal(inside));
        QApplication::sendEvent(form->PanelCard, &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("点击这里，或按下回车键表示刷卡"));
        QTRY_VERIFY_WITH_TIMEOUT(!QToolTip::isVisible(), CardPanel::kHintShowMSecs + 2000);
    }

    void listFilledBeforeFirstShown()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101", "0102", "0103"}));
        auto form = fx.makeForm();
        form->winId();
        int rowsWhenVisible = -1;
        connect(form->windowHandle(), &QWindow::visibleChanged, this, [&](bool visible) {
            if (visible && rowsWhenVisible < 0)
                rowsWhenVisible = form->DBGridYg->gridModel()->rowCount();
        });
        form->show();
        QCOMPARE(rowsWhenVisible, 3);
        QVERIFY(form->YgQry->isOpen());
        QCOMPARE(form->RecordQry->connection(), form->ADOConnectionYg);
        QCOMPARE(MessageBox::shown().size(), size_t(0));
        QVERIFY(fx.logContents().isEmpty());
    }

    void missingDatabaseLeavesEmptyListAndOneLogLine()
    {
        TerminalFixture fx;
        QDir().mkpath(fx.dbFolder());
        fx.pointSettingsAt(fx.dbFolder());
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(!form->YgQry->isOpen());
        QCOMPARE(form->DBGridYg->gridModel()->rowCount(), 1);
        QCOMPARE(form->StatusLine->text(), QString());
        QCOMPARE(MessageBox::shown().size(), size_t(0));
        const QByteArray log = fx.logContents();
        QCOMPARE(log.count("\r\n"), 1);
        QVERIFY(log.contains("System Error"));
        QVERIFY(log.contains("EOleException"));
        QVERIFY(log.contains("<< SELECT * FROM employ >>"));
    }

    // The database file replaced under the running window: a file that is no database
    // makes the swipe fail, said in the status line and the red line (not in the log or a
    // box), a restored copy takes the next swipe, and the list keeps showing what it
    // loaded throughout.
    void replacedDatabaseFailsVisiblyThenTakesTheSwipe()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101", "0102"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(form->YgQry->isOpen());

        const QString aside = fx.dbPath() + QStringLiteral(".aside");
        QVERIFY(QFile::rename(fx.dbPath(), aside));
        TestSupport::writeFile(fx.dbPath(), "not a database");
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QCOMPARE(form->StatusLine->text(), QStringLiteral("【0101 员工1】 2026-12-07 09:00 刷卡失败！"));
        QVERIFY(form->OfflineLine->isVisible());
        QCOMPARE(form->OfflineLine->text(), QStringLiteral("刷卡失败：数据库文件已损坏"));
        QCOMPARE(MessageBox::shown().size(), size_t(0));
        QVERIFY(fx.logContents().isEmpty());
        QCOMPARE(form->DBGridYg->gridModel()->rowCount(), 2);
        QVERIFY(!form->RecordQry->isOpen());

        QVERIFY(QFile::remove(fx.dbPath()));
        QVERIFY(QFile::copy(aside, fx.dbPath()));
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QVERIFY2(form->StatusLine->text().endsWith(QStringLiteral("刷卡成功！")),
                 qPrintable(form->StatusLine->text()));
        QVERIFY(!form->OfflineLine->isVisible());
        const QString count = QStringLiteral("SELECT count(*) FROM sgdjb");
        QCOMPARE(TestSupport::SqliteFile(fx.dbPath()).scalar(count), 1);
        QCOMPARE(TestSupport::SqliteFile(aside).scalar(count), 0);
        QCOMPARE(form->DBGridYg->gridModel()->rowCount(), 2);
    }

    // A click on the card area is a press and a release of the left button, both inside:
    // one swipe. A double click is one swipe too (its second press is no click), and a
    // press inside released outside is nothing.
    void cardAreaClicks()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101", "0102"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        CardPanel* card = form->PanelCard;
        const QPoint inside = card->rect().center();
        const QString count = QStringLiteral("SELECT count(*) FROM sgdjb");
        const auto rows = [&] { return TestSupport::SqliteFile(fx.dbPath()).scalar(count); };

        QTest::mousePress(card, Qt::LeftButton, {}, inside);
        QTest::mouseMove(card, card->rect().bottomRight() + QPoint(30, 30));
        QTest::mouseRelease(card, Qt::LeftButton, {}, card->rect().bottomRight() + QPoint(30, 30));
        QCOMPARE(form->StatusLine->text(), QString());
        QCOMPARE(rows(), 0);

        // Only the left button clicks.
        QTest::mouseClick(card, Qt::RightButton, {}, inside);
        QCOMPARE(rows(), 0);

        QTest::mouseClick(card, Qt::LeftButton, {}, inside);
        QCOMPARE(form->StatusLine->text(), QStringLiteral("【0101 员工1】 2026-12-07 09:00 刷卡成功！"));
        QCOMPARE(rows(), 1);

        // A double click on another employee: one swipe recorded, and no second one that
        // would show the "already recorded" text.
        form->DBGridYg->moveToRow(1);
        QTest::mouseClick(card, Qt::LeftButton, {}, inside);
        QMouseEvent second(QEvent::MouseButtonDblClick, QPointF(inside), card->mapToGlobal(QPointF(inside)),
                           Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(card, &second);
        QTest::mouseRelease(card, Qt::LeftButton, {}, inside);
        QCOMPARE(form->StatusLine->text(), QStringLiteral("【0102 员工2】 2026-12-07 09:00 刷卡成功！"));
        QCOMPARE(rows(), 2);
    }

    void unwritableLogShowsTheErrorAndTheWindowComesUp()
    {
        TerminalFixture fx;
        QDir().mkpath(fx.dbFolder());
        fx.pointSettingsAt(fx.dbFolder());
        QDir().mkpath(fx.logPath()); // a folder where the log file belongs
        MessageBox::setNextAnswer(QMessageBox::Ok);
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(MessageBox::shown().size(), size_t(1));
        QCOMPARE(MessageBox::shown().front().icon, QMessageBox::Critical);
        QVERIFY(form->isVisible());
        QVERIFY(!form->YgQry->isOpen());
    }

    void centredOnPrimaryScreen()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const QRect frame = form->frameGeometry();
        QCOMPARE(frame.topLeft(),
                 QPoint((screen.width() - frame.width()) / 2, (screen.height() - frame.height()) / 2));
    }

    void closeSequenceOrder()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(form->ADOConnectionYg->connected());
        form->RecordQry->sqlAdd(QStringLiteral("SELECT * FROM sgdjb"));
        form->RecordQry->open();
        QStringList order;
        connect(form->YgQry, &AdoQuery::closed, this, [&] { order << "YgQry"; });
        connect(form->RecordQry, &AdoQuery::closed, this, [&] { order << "RecordQry"; });
        connect(form->ADOConnectionYg, &AdoConnection::aboutToClose, this,
                [&] { order << "ADOConnectionYg"; });
        form->FormClose(form.get());
        QCOMPARE(order, QStringList({"YgQry", "RecordQry", "ADOConnectionYg"}));
        form->FormClose(form.get()); // closing what is closed does nothing
        QCOMPARE(order.size(), 3);
    }

    void powerButtonEndsProgramWithCodeZero()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTimer::singleShot(0, form.get(), [&] { QTest::mouseClick(form->ButtonPower, Qt::LeftButton); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!form->isVisible());
        QVERIFY(!form->YgQry->isOpen());
        QVERIFY(!form->ADOConnectionYg->connected());
    }

    void enterOnPowerButtonCloses()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->ButtonPower->setFocus(Qt::TabFocusReason);
        QTest::keyClick(form->ButtonPower, Qt::Key_Return);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->StatusLine->text(), QString());
    }

    void outsideCloseTakesTheSamePath()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTimer::singleShot(0, form.get(), [&] { form->windowHandle()->close(); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!form->isVisible());
        QVERIFY(!form->YgQry->isOpen());
        QVERIFY(!form->ADOConnectionYg->connected());
    }

    void maximisedStartKeepsControlsInPlace()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        form->showAs(StartupInfo::ShowCommand::Maximized);
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTRY_VERIFY(form->isMaximized());
        QCOMPARE(form->DBGridYg->geometry(), QRect(8, 8, 209, 401));
        QCOMPARE(form->StatusLine->geometry(), QRect(0, form->height() - 23, form->width(), 23));
    }

    void errorBoxCaptionAndFullStop()
    {
        QCOMPARE(MessageBox::errorText(QStringLiteral("abc")), QStringLiteral("abc."));
        QCOMPARE(MessageBox::errorText(QStringLiteral("abc.")), QStringLiteral("abc."));
        QCOMPARE(MessageBox::errorText(QStringLiteral("abc!")), QStringLiteral("abc!"));
        QCOMPARE(MessageBox::errorText(QStringLiteral("abc)")), QStringLiteral("abc)"));
        QCOMPARE(MessageBox::errorText(QStringLiteral("abc/")), QStringLiteral("abc/."));
        QCOMPARE(MessageBox::errorText(QString()), QString());
        QCOMPARE(MessageBox::errorText(QStringLiteral("数据库")), QStringLiteral("数据库."));
        QCOMPARE(TerminalApplication::titleFromExecutable(QStringLiteral("TERMINAL.EXE")),
                 QStringLiteral("Terminal"));
        QCOMPARE(TerminalApplication::titleFromExecutable(QStringLiteral("tavelo")),
                 QStringLiteral("Tavelo"));

        // An error escaping a handler reaches the box and the program carries on.
        TerminalFixture fx;
        QDir().mkpath(fx.dbFolder());
        fx.pointSettingsAt(fx.dbFolder());
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        QTest::keyClick(form->EditYg, Qt::Key_A);
        QCOMPARE(MessageBox::shown().size(), size_t(1));
        const MessageBox::Shown box = MessageBox::shown().front();
        QCOMPARE(box.caption, QStringLiteral("Test_quorelmain"));
        QCOMPARE(TerminalApplication::title(), QStringLiteral("Test_quorelmain"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.text, QStringLiteral("YgQry: Cannot perform this operation on a closed dataset."));
        QVERIFY(form->isVisible());
    }

    void errorInCloseSequenceKeepsWindowOpen()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        connect(form->YgQry, &AdoQuery::closed, this,
                [] { throw QueryStateError(QStringLiteral("close failed")); });
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        QTest::mouseClick(form->ButtonPower, Qt::LeftButton);
        QCOMPARE(MessageBox::shown().size(), size_t(1));
        QCOMPARE(MessageBox::shown().front().text, QStringLiteral("close failed."));
        QVERIFY(form->isVisible());
        disconnect(form->YgQry, &AdoQuery::closed, this, nullptr);
    }
};

TAVELO_GUI_TEST_MAIN(TestQuorelMain)
#include "test_quorelmain.moc"
