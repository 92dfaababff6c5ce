#include "app/TerminalClock.h"
#include "controls/RxClock.h"
#include "support/ManualClock.h"
#include "platform/gui/FontSubstitutes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScreen>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {

const QDate kDay(2026, 3, 2);

// A shown clock whose ticks the test drives itself.
struct Fixture
{
    explicit Fixture(QTime start) : clock(kDay.startOfDay(Qt::UTC)), window()
    {
        clock.set(kDay, start);
        control = new RxClock(&window, clock);
        control->ticker().setEnabled(false);
        control->setTimeSeparatorSource([this] { return separator; });
        TerminalClock::configure(*control);
        window.resize(600, 120);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        control->repaint();
    }
    void tickAt(QTime time)
    {
        clock.set(kDay, time);
        control->tick();
    }

    ManualClock clock;
    QChar separator{u':'};
    QWidget window;
    RxClock* control = nullptr;
};

// What the screen shows of the control: the window's pixels as the platform holds them,
// not a fresh rendering.
QImage onScreen(const Fixture& f)
{
    const QImage window = f.window.screen()->grabWindow(f.window.winId()).toImage();
    return window.copy(f.control->geometry()).convertToFormat(QImage::Format_RGB32);
}

// The control painted afresh at a time of day.
QImage rendered(QTime time)
{
    Fixture reference(time);
    return reference.control->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestClock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { FontSubstitutes::install(); }
    void defaults();
    void terminalTexts_data();
    void terminalTexts();
    void cellsAreEightWideAndCentred();
    void tickRepaintsOnlyChangedCells();
    void hourChangeRepaintsAll_data();
    void hourChangeRepaintsAll();
    void restoreShowsTheCurrentTimeInFull();
    void partialPaintLeavesNoStaleDigit();
    void twelveHourAndNoLeadingZero();
    void getTimeHandlerAdjustsTheReading();
    void alarmFiresOnceAndRearms();
    void alarmSetForTheCurrentSecondFires();
    void localeChangeRepaintsWithNewSeparator();
    void autoSizeFitsTheFontToTheBox();
    void analogueFaceShowsDotsColor();
    void lookOfTheTerminalClock();
    void tickerStateFollowsSettings();
    void busyGuiThreadCatchesUpWithOneTick();
    void terminatingApplicationStopsTicks();
    void createDestroyLoopShutsDownCleanly();
};

void TestClock::defaults()
{
    ManualClock clock;
    RxClock control(nullptr, clock);
    QCOMPARE(control.showMode(), RxClock::scDigital);
    QVERIFY(control.showSeconds());
    QVERIFY(!control.twelveHour());
    QVERIFY(control.leadingZero());
    QVERIFY(!control.autoSize());
    QCOMPARE(control.dotsColor(), QColor(0, 128, 128));
    QVERIFY(!control.alarmEnabled());
    QCOMPARE(control.alarmHour() + control.alarmMinute() + control.alarmSecond(), 0);
    QCOMPARE(control.bevelOuter(), RxClock::bvRaised);
    QCOMPARE(control.bevelInner(), RxClock::bvLowered);
    QCOMPARE(control.bevelWidth(), 1);
    QCOMPARE(control.borderWidth(), 0);
    QCOMPARE(control.borderStyle(), RxClock::bsNone);
    QCOMPARE(control.color(), control.palette().color(QPalette::Button));
    QVERIFY(control.testAttribute(Qt::WA_OpaquePaintEvent));
    QCOMPARE(control.focusPolicy(), Qt::NoFocus);

    RxTimer& ticker = control.ticker();
    QVERIFY(ticker.enabled());
    QCOMPARE(ticker.interval(), 450u);
    QVERIFY(ticker.threaded());
    QCOMPARE(ticker.threadPriority(), QThread::NormalPriority);
    QVERIFY(ticker.hasOnTimer());
    QVERIFY(ticker.workerRunning());
}

void TestClock::terminalTexts_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("text");
    QTest::newRow("morning") << QTime(9, 5, 7) << "09:05:07";
    QTest::newRow("midnight") << QTime(0, 0, 0) << "00:00:00";
    QTest::newRow("afternoon") << QTime(13, 0, 0) << "13:00:00";
    QTest::newRow("last second") << QTime(23, 59, 59) << "23:59:59";
}

void TestClock::terminalTexts()
{
    QFETCH(QTime, time);
    QFETCH(QString, text);
    Fixture f(time);
    QCOMPARE(f.control->shownText(), text);
    QCOMPARE(f.control->cellCount(time), 8);
    QVERIFY(f.control->lastPaintWasFull());
    QCOMPARE(f.control->lastPaintedCells(), QList<int>({1, 2, 3, 4, 5, 6, 7, 8}));
}

void TestClock::cellsAreEightWideAndCentred()
{
    Fixture f(QTime(9, 5, 7));
    RxClock& c = *f.control;
    QCOMPARE(c.size(), QSize(345, 81));
    QCOMPARE(c.contentsRect(), QRect(2, 2, 341, 77));
    QCOMPARE(c.innerRect(), QRect(4, 4, 337, 73));

    const QTime t(9, 5, 7);
    const QFontMetrics fm(c.font());
    const int w = fm.horizontalAdvance(QStringLiteral("8"));
    const int h = fm.height();
    const int left = (4 + 341 - 8 * w) / 2;
    const int top = (4 + 77 - h) / 2;
    for (int i = 1; i <= 8; ++i)
        QCOMPARE(c.cellRect(t, i), QRect(left + (i - 1) * w, top, w, h));
}

void TestClock::tickRepaintsOnlyChangedCells()
{
    Fixture f(QTime(9, 5, 7));
    RxClock& c = *f.control;
    const int full = c.fullPaints();
    const int partial = c.partialPaints();
    const auto cells = [&](std::initializer_list<int> list) {
        QRegion r;
        for (int i : list)
            r += c.cellRect(QTime(9, 5, 7), i);
        return r;
    };

    f.tickAt(QTime(9, 5, 8));
    QCOMPARE(c.lastPaintedCells(), QList<int>({7, 8}));
    QCOMPARE(c.lastPaintRegion(), cells({7, 8}));
    QCOMPARE(c.partialPaints(), partial + 1);
    QCOMPARE(c.shownText(), QStringLiteral("09:05:08"));

    // The same second again draws nothing.
    f.tickAt(QTime(9, 5, 8, 500));
    QCOMPARE(c.partialPaints(), partial + 1);

    f.tickAt(QTime(9, 5, 59));
    f.tickAt(QTime(9, 6, 0));
    QCOMPARE(c.lastPaintedCells(), QList<int>({4, 5, 7, 8}));
    QCOMPARE(c.lastPaintRegion(), cells({4, 5, 7, 8}));
    QCOMPARE(c.partialPaints(), partial + 3);
    QCOMPARE(c.fullPaints(), full);
    QCOMPARE(c.shownText(), QStringLiteral("09:06:00"));

    // A jump within the hour shows at the next tick, seconds and minutes alike.
    f.tickAt(QTime(9, 40, 0));
    QCOMPARE(c.lastPaintedCells(), QList<int>({4, 5}));
    QCOMPARE(c.shownText(), QStringLiteral("09:40:00"));
    QCOMPARE(c.fullPaints(), full);
}

void TestClock::hourChangeRepaintsAll_data()
{
    QTest::addColumn<QTime>("before");
    QTest::addColumn<QTime>("after");
    QTest::addColumn<QString>("text");
    QTest::newRow("full hour") << QTime(9, 59, 59) << QTime(10, 0, 0) << "10:00:00";
    QTest::newRow("noon") << QTime(11, 59, 59) << QTime(12, 0, 0) << "12:00:00";
    QTest::newRow("one pm") << QTime(12, 59, 59) << QTime(13, 0, 0) << "13:00:00";
    QTest::newRow("midnight") << QTime(23, 59, 59) << QTime(0, 0, 0) << "00:00:00";
    QTest::newRow("clock set back") << QTime(15, 30, 0) << QTime(8, 30, 1) << "08:30:01";
}

void TestClock::hourChangeRepaintsAll()
{
    QFETCH(QTime, before);
    QFETCH(QTime, after);
    QFETCH(QString, text);
    Fixture f(before);
    const int full = f.control->fullPaints();
    const int partial = f.control->partialPaints();
    f.tickAt(after);
    QCOMPARE(f.control->fullPaints(), full + 1);
    QCOMPARE(f.control->partialPaints(), partial);
    QCOMPARE(f.control->lastPaintRegion(), QRegion(f.control->rect()));
    QCOMPARE(f.control->shownText(), text);
    // Back to ordinary ticks afterwards.
    f.tickAt(after.addSecs(1));
    QCOMPARE(f.control->lastPaintedCells(), QList<int>({7, 8}));
}

void TestClock::restoreShowsTheCurrentTimeInFull()
{
    Fixture f(QTime(10, 20, 59));
    // Just after the minute turns, with no tick yet: minimise and restore.
    f.clock.set(kDay, QTime(10, 21, 1));
    f.window.showMinimized();
    QTest::qWait(20);
    f.window.showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    QTRY_COMPARE(onScreen(f), rendered(QTime(10, 21, 1)));

    // Unmapped and mapped again just after an hour turns.
    f.clock.set(kDay, QTime(11, 0, 0));
    f.window.hide();
    f.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    QTRY_COMPARE(onScreen(f), rendered(QTime(11, 0, 0)));
}

void TestClock::partialPaintLeavesNoStaleDigit()
{
    Fixture f(QTime(10, 20, 30));
    f.clock.set(kDay, QTime(10, 21, 45));
    // Uncovering a corner of the control: the paint event is clipped to that corner.
    f.control->repaint(QRect(0, 0, 20, 20));
    QTest::qWait(20);
    // The next tick within the same minute must not leave the old minute digits behind.
    f.tickAt(QTime(10, 21, 46));
    QCOMPARE(onScreen(f), rendered(QTime(10, 21, 46)));
}

void TestClock::twelveHourAndNoLeadingZero()
{
    Fixture f(QTime(13, 5, 7));
    RxClock& c = *f.control;
    const QString am = QLocale::system().amText();
    const QString pm = QLocale::system().pmText();

    c.setTwelveHour(true);
    QCOMPARE(c.textFor(QTime(13, 5, 7)), "01:05:07 " + pm);
    QCOMPARE(c.textFor(QTime(0, 0, 0)), "12:00:00 " + am);
    QCOMPARE(c.textFor(QTime(12, 30, 0)), "12:30:00 " + pm);
    QCOMPARE(c.cellCount(QTime(13, 5, 7)), 8);

    c.setLeadingZero(false);
    QCOMPARE(c.textFor(QTime(13, 5, 7)), "1:05:07 " + pm);
    QCOMPARE(c.cellCount(QTime(13, 5, 7)), 7);
    QCOMPARE(c.textFor(QTime(22, 5, 7)), "10:05:07 " + pm);
    QCOMPARE(c.cellCount(QTime(22, 5, 7)), 8);

    c.setTwelveHour(false);
    QCOMPARE(c.textFor(QTime(9, 5, 7)), QStringLiteral("9:05:07"));
    QCOMPARE(c.textFor(QTime(0, 5, 7)), QStringLiteral("0:05:07"));
    QCOMPARE(c.textFor(QTime(13, 5, 7)), QStringLiteral("13:05:07"));

    c.setShowSeconds(false);
    QCOMPARE(c.textFor(QTime(9, 5, 7)), QStringLiteral("9:05"));
    QCOMPARE(c.cellCount(QTime(9, 5, 7)), 4);

    // With a one-digit hour the minute and second cells move one to the left.
    c.setShowSeconds(true);
    f.tickAt(QTime(9, 5, 7));
    c.repaint();
    f.tickAt(QTime(9, 6, 8));
    QCOMPARE(c.lastPaintedCells(), QList<int>({3, 4, 6, 7}));
    QCOMPARE(c.shownText(), QStringLiteral("9:06:08"));
}

void TestClock::getTimeHandlerAdjustsTheReading()
{
    Fixture f(QTime(9, 5, 7));
    f.control->setOnGetTime([](RxClock&, QTime& time) { time = time.addSecs(3600); });
    f.control->repaint();
    QCOMPARE(f.control->shownText(), QStringLiteral("10:05:07"));
}

void TestClock::alarmFiresOnceAndRearms()
{
    Fixture f(QTime(6, 59, 58));
    RxClock& c = *f.control;
    int alarms = 0;
    c.setOnAlarm([&](RxClock& sender) {
        QCOMPARE(&sender, &c);
        ++alarms;
    });
    c.setAlarmHour(7);
    c.setAlarmMinute(0);
    c.setAlarmSecond(2);

    // Disabled: nothing fires at the alarm time.
    f.tickAt(QTime(7, 0, 2));
    QCOMPARE(alarms, 0);

    f.tickAt(QTime(6, 59, 59));
    c.setAlarmEnabled(true);
    f.tickAt(QTime(7, 0, 1));
    QCOMPARE(alarms, 0);
    f.tickAt(QTime(7, 0, 3)); // a tick late: the second at or after the alarm second
    QCOMPARE(alarms, 1);
    f.tickAt(QTime(7, 0, 4));
    f.tickAt(QTime(7, 0, 30));
    QCOMPARE(alarms, 1);

    // Next morning: re-armed once the time lies before the alarm time again.
    f.tickAt(QTime(6, 0, 0));
    f.tickAt(QTime(7, 0, 2));
    QCOMPARE(alarms, 2);
}

void TestClock::alarmSetForTheCurrentSecondFires()
{
    Fixture f(QTime(6, 0, 0));
    RxClock& c = *f.control;
    int alarms = 0;
    c.setOnAlarm([&](RxClock&) { ++alarms; });
    // Set up and enabled at 07:00:00 for 07:00:00, with no tick in between.
    f.clock.set(kDay, QTime(7, 0, 0));
    c.setAlarmHour(7);
    c.setAlarmMinute(0);
    c.setAlarmSecond(0);
    c.setAlarmEnabled(true);
    f.tickAt(QTime(7, 0, 0));
    QCOMPARE(alarms, 1);

    // Moving the alarm to a time already past today neither fires nor re-arms it.
    f.clock.set(kDay, QTime(7, 30, 0));
    c.setAlarmMinute(10);
    f.tickAt(QTime(7, 30, 1));
    QCOMPARE(alarms, 1);
}

void TestClock::localeChangeRepaintsWithNewSeparator()
{
    Fixture f(QTime(9, 5, 7));
    RxClock& c = *f.control;
    QCOMPARE(c.shownText(), QStringLiteral("09:05:07"));

    f.separator = u'.';
    QEvent appChange(QEvent::LocaleChange);
    QCoreApplication::sendEvent(qApp, &appChange);
    QCOMPARE(c.timeSeparator(), QChar(u'.'));
    const int full = c.fullPaints();
    QTRY_COMPARE(c.fullPaints(), full + 1);
    QCOMPARE(c.shownText(), QStringLiteral("09.05.07"));
    f.tickAt(QTime(9, 5, 8));
    QCOMPARE(c.shownText(), QStringLiteral("09.05.08"));

    // A locale change delivered to the control itself works the same way; a locale with no
    // separator falls back to ':'.
    f.separator = QChar();
    QEvent change(QEvent::LocaleChange);
    QCoreApplication::sendEvent(&c, &change);
    QCOMPARE(c.timeSeparator(), QChar(u':'));
    QTRY_COMPARE(c.shownText(), QStringLiteral("09:05:08"));
}

void TestClock::autoSizeFitsTheFontToTheBox()
{
    Fixture f(QTime(9, 5, 7));
    RxClock& c = *f.control;
    c.setAutoSize(true);
    const auto fits = [&] {
        const QFontMetrics fm(c.font());
        const QRect client = c.contentsRect();
        const int size = c.font().pixelSize();
        QVERIFY(size <= (client.height() - 4) * 4 / 5);
        QVERIFY(fm.horizontalAdvance(QStringLiteral("88888888")) <= client.width() - 30);
        // Within a pixel or two of one of the two limits.
        QFont bigger = c.font();
        bigger.setPixelSize(size + 2);
        QVERIFY(size + 2 > (client.height() - 4) * 4 / 5 ||
                QFontMetrics(bigger).horizontalAdvance(QStringLiteral("88888888")) > client.width() - 30);
    };
    fits();
    c.resize(600, 200);
    fits();
    c.resize(150, 200);
    fits();
}

void TestClock::analogueFaceShowsDotsColor()
{
    Fixture f(QTime(9, 5, 7));
    RxClock& c = *f.control;
    c.setDotsColor(QColor(255, 0, 0));
    c.setShowMode(RxClock::scAnalog);
    c.repaint();
    const QImage image = c.grab().toImage();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == QColor(255, 0, 0))
                ++red;
    QVERIFY(red > 12);
    // Ticks move the hands inside the bevels only.
    f.tickAt(QTime(9, 5, 8));
    QTRY_COMPARE(c.lastPaintRegion(), QRegion(c.innerRect()));
}

void TestClock::lookOfTheTerminalClock()
{
    Fixture f(QTime(9, 5, 7));
    const QImage image = f.control->grab().toImage();
    if (const QByteArray path = qgetenv("TAVELO_CLOCK_GRAB"); !path.isEmpty())
        image.save(QString::fromLocal8Bit(path));
    QCOMPARE(image.size(), QSize(345, 81));
    // Sunken client edge: shadow then dark shadow on the top, highlight then light on the bottom.
    QCOMPARE(image.pixelColor(100, 0), QColor(128, 128, 128));
    QCOMPARE(image.pixelColor(100, 1), QColor(64, 64, 64));
    QCOMPARE(image.pixelColor(100, 80), QColor(255, 255, 255));
    QCOMPARE(image.pixelColor(100, 79), QColor(212, 208, 200));
    // Lowered outer bevel on the client edge, raised inner bevel inside it.
    QCOMPARE(image.pixelColor(100, 2), QColor(128, 128, 128));
    QCOMPARE(image.pixelColor(2, 40), QColor(128, 128, 128));
    QCOMPARE(image.pixelColor(100, 78), QColor(255, 255, 255));
    QCOMPARE(image.pixelColor(100, 3), QColor(255, 255, 255));
    QCOMPARE(image.pixelColor(100, 77), QColor(128, 128, 128));
    QCOMPARE(image.pixelColor(10, 40), QColor(128, 128, 0));

    // Digits are drawn in the window-text colour inside the band, and the block is centred.
    const QRect first = f.control->cellRect(QTime(9, 5, 7), 1);
    const QRect last = f.control->cellRect(QTime(9, 5, 7), 8);
    QVERIFY(qAbs((first.left() - 4) - (341 - (last.right() + 1))) <= 1);
    int ink = 0;
    for (int x = first.left(); x <= last.right(); ++x)
        for (int y = first.top(); y <= first.bottom(); ++y)
            if (image.pixelColor(x, y) != QColor(128, 128, 0))
                ++ink;
    QVERIFY(ink > 200);
}

void TestClock::tickerStateFollowsSettings()
{
    RxTimer ticker;
    QVERIFY(!ticker.workerRunning()); // no handler yet
    int ticks = 0;
    ticker.setOnTimer([&] { ++ticks; });
    QVERIFY(ticker.workerRunning());
    ticker.setInterval(0);
    QVERIFY(!ticker.workerRunning());
    ticker.setInterval(20);
    QVERIFY(ticker.workerRunning());
    QTRY_VERIFY(ticks >= 2);
    ticker.setEnabled(false);
    QVERIFY(!ticker.workerRunning());
    QTest::qWait(60); // a tick handed over just before is dropped on the GUI side
    const int stopped = ticks;
    QTest::qWait(100);
    QCOMPARE(ticks, stopped);
    ticker.setEnabled(true);
    QTRY_VERIFY(ticks > stopped);

    ticker.setThreadPriority(QThread::LowPriority);
    QVERIFY(ticker.workerRunning());
    ticker.setThreaded(false);
    QVERIFY(!ticker.workerRunning());
    const int threaded = ticks;
    QTRY_VERIFY(ticks >= threaded + 2);
}

void TestClock::busyGuiThreadCatchesUpWithOneTick()
{
    Fixture f(QTime(9, 5, 7));
    RxClock& c = *f.control;
    c.ticker().setEnabled(true);
    RxTimer& ticker = c.ticker();
    QTRY_VERIFY(ticker.ticksRun() >= 1);

    const int before = ticker.ticksRun();
    f.clock.set(kDay, QTime(9, 6, 10));
    QThread::sleep(3);
    QCOMPARE(c.shownText(), QStringLiteral("09:05:07"));
    QCoreApplication::processEvents();
    QCOMPARE(ticker.ticksRun(), before + 1);
    QCOMPARE(c.shownText(), QStringLiteral("09:06:10"));
    QCOMPARE(c.lastPaintedCells(), QList<int>({4, 5, 7, 8}));
}

void TestClock::terminatingApplicationStopsTicks()
{
    ManualClock clock;
    RxClock c(nullptr, clock);
    c.ticker().setInterval(10);
    QTRY_VERIFY(c.ticker().ticksRun() >= 1);
    RxTimer::setApplicationTerminating(true);
    QTest::qWait(30);
    const int ticks = c.ticker().ticksRun();
    QTest::qWait(150);
    RxTimer::setApplicationTerminating(false);
    QCOMPARE(c.ticker().ticksRun(), ticks);
}

void TestClock::createDestroyLoopShutsDownCleanly()
{
    ManualClock clock;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 100; ++i) {
        auto window = std::make_unique<QWidget>();
        auto* c = new RxClock(window.get(), clock);
        TerminalClock::configure(*c);
        c->ticker().setInterval(1u + unsigned(i % 3));
        window->show();
        clock.advanceSecs(1);
        if (i % 2) {
            QTest::qWait(5);
        } else {
            // Leave a tick pending in the event queue, then destroy underneath it.
            QThread::msleep(10);
        }
        window.reset();
        QCoreApplication::processEvents();
    }
    // No create or destroy waited for a worker.
    QVERIFY2(elapsed.elapsed() < 10000, qPrintable(QString::number(elapsed.elapsed())));
}

QTEST_MAIN(TestClock)
#include "test_clock.moc"
