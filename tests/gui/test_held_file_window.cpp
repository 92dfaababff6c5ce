// The window of a terminal on a database file that another program holds locked for
// writing (here a sqlite3 shell in the middle of an exclusive transaction, as a management
// program's long update would be): the window answers at once, the clock goes on, the red
// line says the file is held and how many swipes wait, and the swipes land in the file,
// once each and at the instant of the key press, when the shell lets go.

#include "FollowingClock.h"
#include "GuiTestSupport.h"
#include "PaintedSeconds.h"

#include "app/CardPanel.h"
#include "app/SimpleStatusBar.h"
#include "app/TroubleLine.h"
#include "controls/RxClock.h"
#include "query/AdoQuery.h"
#include "support/SqliteFile.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <mutex>

class TestHeldFileWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;

    static qint64 count(const QString& path, const QString& where)
    {
        return TestSupport::SqliteFile(path).scalar(
            QStringLiteral("SELECT count(*) FROM sgdjb WHERE %1").arg(where));
    }

    static qint64 swipeAndTime(TQuorelMainForm& form)
    {
        QElapsedTimer answer;
        answer.start();
        QTest::mouseClick(form.PanelCard, Qt::LeftButton);
        return answer.elapsed();
    }

private slots:
    void initTestCase() { qputenv("XDG_STATE_HOME", m_state.path().toUtf8()); }

    void aFileHeldByAnotherProgramDoesNotStopTheWindow()
    {
        TerminalFixture fx;
        fx.createDatabase(numbered(5));
        FollowingClock clock;
        auto form = std::make_unique<TQuorelMainForm>(clock);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QVERIFY(!form->OfflineLine->isVisible());

        // Another terminal recorded employee 0005 half a minute ago.
        const TestSupport::ToolRun other =
            TestSupport::runKqdb({QStringLiteral("swipe"), fx.dbPath(), QStringLiteral("0005"),
                                  QStringLiteral("--now"), QStringLiteral("2026-12-07 09:00:30")});
        QCOMPARE(other.exitCode, 0);

        // The press of the first swipe falls at 09:00:51.800.
        clock.set(QDateTime(QDate(2026, 12, 7), QTime(9, 0, 50, 0), Qt::UTC));
        PaintedSeconds painted(form->RxClockHT);
        // A shell holds the file in an exclusive transaction for 8 seconds.
        QProcess holder;
        holder.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), fx.dbPath()});
        QVERIFY(holder.waitForStarted(10000));
        holder.write(
            "BEGIN EXCLUSIVE; INSERT INTO employ (num, name) VALUES ('w', 'writer');\n.print held\n");
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAllStandardOutput(), QByteArray("held\n"));
        QElapsedTimer held;
        held.start();
        holder.write(".shell sleep 8\nROLLBACK;\n.quit\n");
        QTest::qWait(1800);

        form->YgQry->setRecNo(1);
        const qint64 firstMs = swipeAndTime(*form);
        qInfo("a swipe on a file held by another program answered after %lld ms", firstMs);
        QVERIFY2(firstMs < 400, qPrintable(QString::number(firstMs)));
        QCOMPARE(form->StatusLine->text(), QStringLiteral("【0002 员工2】 2026-12-07 09:00 刷卡成功！"));
        QCOMPARE(form->OfflineLine->text(), QStringLiteral("数据库被其他程序锁定：1 条刷卡待写入"));
        QVERIFY(form->OfflineLine->isVisible());
        QCOMPARE(TroubleLine::kTroubleColour, form->OfflineLine->grab().toImage().pixelColor(2, 2));

        // The next swipe queues behind it at once; the same employee again within three
        // minutes is already recorded, by the swipe that waits.
        QTest::qWait(1000);
        form->YgQry->setRecNo(3);
        const QDateTime secondPress = clock.now();
        const qint64 secondMs = swipeAndTime(*form);
        QVERIFY2(secondMs < 400, qPrintable(QString::number(secondMs)));
        QCOMPARE(form->OfflineLine->text(), QStringLiteral("数据库被其他程序锁定：2 条刷卡待写入"));
        form->YgQry->setRecNo(1);
        QVERIFY(swipeAndTime(*form) < 400);
        QCOMPARE(form->StatusLine->text(), QStringLiteral("【0002 员工2】 2026-12-07 09:00 已刷卡"));
        // The held file can still be read: the other terminal's record answers at once.
        form->YgQry->setRecNo(4);
        QVERIFY(swipeAndTime(*form) < 400);
        QCOMPARE(form->StatusLine->text(), QStringLiteral("【0005 员工5】 2026-12-07 09:00 已刷卡"));
        QCOMPARE(form->OfflineLine->text(), QStringLiteral("数据库被其他程序锁定：2 条刷卡待写入"));
        QCOMPARE(count(fx.dbPath(), QStringLiteral("1")), 1);
        const QByteArray dir = qgetenv("TAVELO_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            form->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/held-file.png"));

        // Once the shell lets go, both are written, each at the instant of its press, and
        // the line goes.
        // Waited for with the event loop running, as the window would.
        QTRY_COMPARE_WITH_TIMEOUT(holder.state(), QProcess::NotRunning, 20000);
        qInfo("the shell held the file for %lld ms", static_cast<long long>(held.elapsed()));
        QTRY_VERIFY_WITH_TIMEOUT(!form->OfflineLine->isVisible(), 15000);
        const qint64 midnight = TestSupport::wallSeconds(QStringLiteral("2026-12-07 00:00:00"));
        QCOMPARE(
            count(fx.dbPath(), QStringLiteral("num = '0002' AND D + T = %1").arg(midnight + 9 * 3600 + 51)),
            1);
        // Read just before the press: the same second, or the next one at most.
        const qint64 pressed = midnight + secondPress.time().msecsSinceStartOfDay() / 1000;
        QCOMPARE(
            count(fx.dbPath(),
                  QStringLiteral("num = '0004' AND D + T BETWEEN %1 AND %2").arg(pressed).arg(pressed + 1)),
            1);
        QCOMPARE(count(fx.dbPath(), QStringLiteral("1")), 3);
        QCOMPARE(count(fx.dbPath(), QStringLiteral("num = 'w'")), 0);

        // The clock drew every second while the file was held.
        QList<int> seconds = painted.seconds();
        seconds.removeIf([](int second) { return second < QTime(9, 0, 50).msecsSinceStartOfDay() / 1000; });
        QVERIFY2(seconds.size() >= 6, qPrintable(QString::number(seconds.size())));
        for (qsizetype i = 1; i < seconds.size(); ++i)
            QVERIFY2(seconds[i] == seconds[i - 1] + 1,
                     qPrintable(QStringLiteral("the clock went from second %1 to %2")
                                    .arg(seconds[i - 1])
                                    .arg(seconds[i])));

        // Free again: a swipe goes to the file at once, and the rule holds across both ways.
        form->YgQry->setRecNo(3);
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QVERIFY2(form->StatusLine->text().endsWith(QStringLiteral("已刷卡")),
                 qPrintable(form->StatusLine->text()));
        form->YgQry->setRecNo(0);
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QVERIFY2(form->StatusLine->text().endsWith(QStringLiteral("刷卡成功！")),
                 qPrintable(form->StatusLine->text()));
        QCOMPARE(count(fx.dbPath(), QStringLiteral("1")), 4);
        QVERIFY(!form->OfflineLine->isVisible());
    }
};

TAVELO_GUI_TEST_MAIN(TestHeldFileWindow)
#include "test_held_file_window.moc"
