// The window of a terminal whose server goes away, against a real throwaway PostgreSQL
// server: it starts from its copy of the list, swipes are kept and shown as recorded, the
// line under the card area tells the operator, and a network that goes silent does not
// stop the window.

#include "FollowingClock.h"
#include "GuiTestSupport.h"
#include "PaintedSeconds.h"

#include "app/CardPanel.h"
#include "app/EmployeeGrid.h"
#include "app/NumberEdit.h"
#include "app/SimpleStatusBar.h"
#include "app/TroubleLine.h"
#include "attendance/LocalStore.h"
#include "controls/RxClock.h"
#include "query/AdoQuery.h"
#include "query/DatabaseTarget.h"
#include "support/LoopbackRelay.h"
#include "support/PgTestServer.h"
#include "support/SqliteFile.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>

#include <mutex>

namespace {

// A store gone for good, with the ledger of swipes beside it (which would fill it again).
void removeStore(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm", ".ledger"})
        QFile::remove(path + QLatin1String(suffix));
}

} // namespace

class TestOfflineWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<PgTestServer> m_server;
    QTemporaryDir m_state;

    // How long the GUI thread went without running a 20 ms timer while `during` ran and
    // for waitMs afterwards.
    static qint64 longestStall(const std::function<void()>& during, int waitMs)
    {
        QElapsedTimer sinceTick;
        qint64 longest = 0;
        QTimer ticker;
        ticker.setInterval(20);
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longest = std::max(longest, sinceTick.restart()); });
        sinceTick.start();
        ticker.start();
        QElapsedTimer call;
        call.start();
        during();
        longest = std::max(longest, call.elapsed());
        QTest::qWait(waitMs);
        return longest;
    }

    void saveScreenshot(QWidget& form, const char* name)
    {
        const QByteArray dir = qgetenv("TAVELO_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            form.grab().save(QString::fromLocal8Bit(dir) + u'/' + QLatin1String(name));
    }

    static QColor pixelAt(QWidget& form, QPoint point) { return form.grab().toImage().pixelColor(point); }

    int records(const char* where = "true") const
    {
        return m_server->psql(QStringLiteral("SELECT count(*) FROM sgdjb WHERE %1").arg(QLatin1String(where)))
            .toInt();
    }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<PgTestServer>();
        QString error;
        QVERIFY2(DevSchema::createServerDatabase(m_server->conninfo(), DevSchema::demoEmployees(), &error),
                 qPrintable(error));
        qputenv("XDG_STATE_HOME", m_state.path().toUtf8());
    }
    void cleanupTestCase() { m_server.reset(); }
    void init()
    {
        if (!m_server->isRunning())
            m_server->start();
        m_server->psql(QStringLiteral("DELETE FROM sgdjb"));
    }

    void aRefusedSwipeIsCountedInRedNotCalledOffline()
    {
        TerminalFixture fx;
        m_server->psql(
            QStringLiteral("ALTER TABLE sgdjb ADD CONSTRAINT sgdjb_not_0102 CHECK (num <> '0102')"));
        const DatabaseTarget target = DatabaseTarget::parse(m_server->conninfo());
        removeStore(LocalStore::pathFor(target.connectionString()));
        {
            auto form = fx.makeForm();
            form->setDatabaseOption(target);
            form->show();
            QVERIFY(QTest::qWaitForWindowActive(form.get()));
            QVERIFY(!form->OfflineLine->isVisible());
            QTest::keyClicks(form->EditYg, "0102");
            QTest::keyClick(form->EditYg, Qt::Key_Return);
            // Not recorded: the status line says so for 0102, and the red line says why and
            // counts the swipe among those kept aside.
            QTRY_COMPARE(form->OfflineLine->text(),
                         QStringLiteral("刷卡失败：服务器拒绝了这次刷卡（原因见错误日志）\n"
                                        "1 条刷卡被服务器拒绝，见错误日志"));
            QVERIFY(form->OfflineLine->text().endsWith(TroubleLine::textFor(false, 0, 1)));
            QCOMPARE(pixelAt(*form, form->OfflineLine->geometry().topLeft() + QPoint(3, 3)),
                     TroubleLine::kTroubleColour);
            QVERIFY(form->StatusLine->text().startsWith(QStringLiteral("【0102 ")));
            QVERIFY(form->StatusLine->text().endsWith(QStringLiteral("刷卡失败！")));
            QVERIFY(fx.logContents().contains("sgdjb_not_0102"));
            saveScreenshot(*form, "refused-swipe.png");

            // Another employee goes straight through; the count stays.
            form->EditYg->clear();
            QTest::keyClicks(form->EditYg, "0103");
            QTest::keyClick(form->EditYg, Qt::Key_Return);
            QVERIFY(form->StatusLine->text().contains(QStringLiteral("刷卡成功")));
            QCOMPARE(records("num = '0103'"), 1);
            QCOMPARE(form->OfflineLine->text(), TroubleLine::textFor(false, 0, 1));
        }
        // A restart still shows what is kept aside.
        auto again = fx.makeForm();
        again->setDatabaseOption(target);
        again->show();
        QVERIFY(QTest::qWaitForWindowActive(again.get()));
        QVERIFY(again->OfflineLine->isVisible());
        QCOMPARE(again->OfflineLine->text(), TroubleLine::textFor(false, 0, 1));
        again.reset();
        m_server->psql(QStringLiteral("ALTER TABLE sgdjb DROP CONSTRAINT sgdjb_not_0102"));
        removeStore(LocalStore::pathFor(target.connectionString()));
    }

    void startsFromTheCopyAndSaysItIsOffline()
    {
        TerminalFixture fx;
        const DatabaseTarget target = DatabaseTarget::parse(m_server->conninfo());
        const QString store = LocalStore::pathFor(target.connectionString());
        removeStore(store);
        {
            auto online = fx.makeForm();
            online->setDatabaseOption(target);
            online->show();
            QVERIFY(QTest::qWaitForWindowActive(online.get()));
            QCOMPARE(online->YgQry->recordCount(), int(DevSchema::demoEmployees().size()));
            QVERIFY(!online->OfflineLine->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(LocalStore(store).hasEmployeeCopy(), 10000);
        }
        m_server->stop();
        QFile::remove(fx.logPath());

        auto form = fx.makeForm();
        form->setDatabaseOption(target);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(form->YgQry->recordCount(), int(DevSchema::demoEmployees().size()));
        QVERIFY(form->OfflineLine->isVisible());
        QCOMPARE(form->OfflineLine->text(), TroubleLine::textFor(true, 0));
        const QList<QByteArray> lines = fx.logContents().split('\n');
        QCOMPARE(fx.logContents().count("\r\n"), 1);
        QVERIFY(lines[0].contains("could not be reached"));
        QVERIFY(MessageBox::shown().empty());

        // Quick search and swipe on the copy: the operator sees the usual text.
        QTest::keyClicks(form->EditYg, "0103");
        QCOMPARE(form->YgQry->fieldAsString(QStringLiteral("num")), QStringLiteral("0103"));
        QTest::keyClick(form->EditYg, Qt::Key_Return);
        const QString name = form->YgQry->fieldAsString(QStringLiteral("name"));
        QCOMPARE(form->StatusLine->text(),
                 QStringLiteral("【0103 %1】 2026-12-07 09:00 刷卡成功！").arg(name));
        QTRY_COMPARE(form->OfflineLine->text(), TroubleLine::textFor(true, 1));
        QCOMPARE(pixelAt(*form, form->OfflineLine->geometry().topLeft() + QPoint(3, 3)),
                 TroubleLine::kTroubleColour);
        // The specified controls keep their places; the line sits between card area and box.
        QVERIFY(!form->OfflineLine->geometry().intersects(form->PanelCard->geometry()));
        QVERIFY(!form->OfflineLine->geometry().intersects(form->EditYg->geometry()));
        saveScreenshot(*form, "offline-start.png");

        // The copy is a snapshot: the list's delete key neither asks nor fails there.
        MessageBox::clearShown();
        form->DBGridYg->setFocus();
        QTest::keyClick(form->DBGridYg, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY(MessageBox::shown().empty());
        QCOMPARE(form->YgQry->recordCount(), int(DevSchema::demoEmployees().size()));
        QCOMPARE(LocalStore(store).waitingCount(), 1);

        m_server->start();
        QTRY_VERIFY2_WITH_TIMEOUT(!form->OfflineLine->isVisible(), qPrintable(form->OfflineLine->text()),
                                  30000);
        QCOMPARE(records("num = '0103' AND d + t = '2026-12-07 09:00:00'"), 1);
        QCOMPARE(fx.logContents().count("\r\n"), 1);
    }

    // A badge read while the server cannot be reached: its holder is found in the copy of
    // the cards made with the copy of the list, and the holder's swipe is queued and sent.
    void aCardReadOfflineQueuesTheHoldersSwipe()
    {
        TerminalFixture fx;
        m_server->psql(QStringLiteral("DELETE FROM card"));
        m_server->psql(QStringLiteral("INSERT INTO card (card, num) VALUES ('0012345678', '0204')"));
        const DatabaseTarget target = DatabaseTarget::parse(m_server->conninfo());
        const QString store = LocalStore::pathFor(target.connectionString());
        removeStore(store);
        {
            auto online = fx.makeForm();
            online->setDatabaseOption(target);
            online->show();
            QVERIFY(QTest::qWaitForWindowActive(online.get()));
            QTRY_VERIFY_WITH_TIMEOUT(LocalStore(store).hasEmployeeCopy(), 10000);
        }
        QCOMPARE(TestSupport::SqliteFile(store, TestSupport::SqliteFile::Mode::ReadOnly)
                     .rows(QStringLiteral("SELECT card || '>' || num FROM card")),
                 QStringList({QStringLiteral("0012345678>0204")}));
        m_server->stop();

        auto form = fx.makeForm();
        form->setDatabaseOption(target);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(form->OfflineLine->text(), TroubleLine::textFor(true, 0));
        form->CardRead(QStringLiteral("0012345678"));
        QCOMPARE(form->YgQry->fieldAsString(QStringLiteral("num")), QStringLiteral("0204"));
        const QString name = form->YgQry->fieldAsString(QStringLiteral("name"));
        QCOMPARE(form->StatusLine->text(),
                 QStringLiteral("【0204 %1】 2026-12-07 09:00 刷卡成功！").arg(name));
        QTRY_COMPARE(form->OfflineLine->text(), TroubleLine::textFor(true, 1));
        const std::vector<StoredSwipe> waiting = LocalStore(store).oldest(10);
        QCOMPARE(int(waiting.size()), 1);
        QCOMPARE(waiting.front().num, QStringLiteral("0204"));

        // Unknown offline too: nobody queued.
        form->CardRead(QStringLiteral("0099999999"));
        QCOMPARE(LocalStore(store).waitingCount(), 1);
        QVERIFY(form->OfflineLine->text().contains(QStringLiteral("0099999999")));

        m_server->start();
        QTRY_COMPARE_WITH_TIMEOUT(records("num = '0204'"), 1, 30000);
        QCOMPARE(records(), 1);
    }

    void silentNetworkDoesNotFreezeTheWindow()
    {
        TerminalFixture fx;
        LoopbackRelay relay(
            QStringLiteral("%1/.s.PGSQL.%2").arg(m_server->socketDir()).arg(m_server->port()));
        const DatabaseTarget target =
            DatabaseTarget::parse(QStringLiteral("host=127.0.0.1 port=%1 dbname=kq user=%2")
                                      .arg(relay.port())
                                      .arg(m_server->superuser()));
        auto form = fx.makeForm();
        form->setDatabaseOption(target);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(form->YgQry->recordCount(), int(DevSchema::demoEmployees().size()));
        QVERIFY(!form->OfflineLine->isVisible());

        relay.setSilent(true);
        const qint64 stall = longestStall([&] { QTest::mouseClick(form->PanelCard, Qt::LeftButton); }, 2500);
        qInfo("longest stall of the window while the network went silent during a swipe: %lld ms", stall);
        QVERIFY2(stall < 2000, qPrintable(QString::number(stall)));
        const QString first = QStringLiteral("【%1 %2】 2026-12-07 09:00 刷卡成功！")
                                  .arg(form->YgQry->fieldAsString(QStringLiteral("num")),
                                       form->YgQry->fieldAsString(QStringLiteral("name")));
        QCOMPARE(form->StatusLine->text(), first);
        QTRY_COMPARE(form->OfflineLine->text(), TroubleLine::textFor(true, 1));

        // Offline, the next swipe does not wait for the network at all.
        form->YgQry->setRecNo(1);
        fx.clock().advanceSecs(5);
        QElapsedTimer second;
        second.start();
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QVERIFY(second.elapsed() < 500);
        QTRY_COMPARE(form->OfflineLine->text(), TroubleLine::textFor(true, 2));
        saveScreenshot(*form, "offline-swipes.png");

        relay.setSilent(false);
        relay.dropConnections();
        QTRY_VERIFY_WITH_TIMEOUT(!form->OfflineLine->isVisible(), 30000);
        QCOMPARE(records("d + t IN ('2026-12-07 09:00:00', '2026-12-07 09:00:05')"), 2);
        QCOMPARE(records(), 2);
    }

    // The network goes silent just before a swipe: its outcome shows within 400 ms, the
    // clock draws every second meanwhile, and the swipe keeps the instant of the press.
    void silentNetworkAnswersWithinTheSecond()
    {
        TerminalFixture fx;
        LoopbackRelay relay(
            QStringLiteral("%1/.s.PGSQL.%2").arg(m_server->socketDir()).arg(m_server->port()));
        FollowingClock clock;
        auto form = std::make_unique<TQuorelMainForm>(clock);
        form->setDatabaseOption(
            DatabaseTarget::parse(QStringLiteral("host=127.0.0.1 port=%1 dbname=kq user=%2")
                                      .arg(relay.port())
                                      .arg(m_server->superuser())));
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QVERIFY(!form->OfflineLine->isVisible());
        form->YgQry->setRecNo(2);
        const QString employee =
            QStringLiteral("%1 %2").arg(form->YgQry->fieldAsString(QStringLiteral("num")),
                                        form->YgQry->fieldAsString(QStringLiteral("name")));

        // The press falls at 09:00:51.800; the wait for the network runs past the second.
        clock.set(QDateTime(QDate(2026, 12, 7), QTime(9, 0, 50, 0), Qt::UTC));
        PaintedSeconds painted(form->RxClockHT);
        QTest::qWait(1800);
        relay.setSilent(true);
        QElapsedTimer answer;
        answer.start();
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        const qint64 answerMs = answer.elapsed();
        QTest::qWait(2500);
        qInfo("a swipe on a silent network answered after %lld ms", answerMs);
        QVERIFY2(answerMs < 400, qPrintable(QString::number(answerMs)));
        QCOMPARE(form->StatusLine->text(),
                 QStringLiteral("【%1】 2026-12-07 09:00 刷卡成功！").arg(employee));
        QTRY_COMPARE(form->OfflineLine->text(), TroubleLine::textFor(true, 1));

        // From the first second drawn after the clock was set.
        QList<int> seconds = painted.seconds();
        seconds.removeIf([](int second) { return second < QTime(9, 0, 50).msecsSinceStartOfDay() / 1000; });
        QVERIFY2(seconds.size() >= 4, qPrintable(QString::number(seconds.size())));
        for (qsizetype i = 1; i < seconds.size(); ++i)
            QVERIFY2(seconds[i] == seconds[i - 1] + 1,
                     qPrintable(QStringLiteral("the clock went from second %1 to %2")
                                    .arg(seconds[i - 1])
                                    .arg(seconds[i])));

        relay.setSilent(false);
        relay.dropConnections();
        QTRY_VERIFY_WITH_TIMEOUT(!form->OfflineLine->isVisible(), 30000);
        QCOMPARE(records("d + t = '2026-12-07 09:00:51'"), 1);
        QCOMPARE(records(), 1);
    }

    // A store damaged before the start is moved aside, one deleted under the running window
    // is made again: the swipes made meanwhile show as recorded and reach the server once.
    void damagedAndDeletedStoreKeepTheSwipes()
    {
        TerminalFixture fx;
        const DatabaseTarget target = DatabaseTarget::parse(m_server->conninfo());
        const QString store = LocalStore::pathFor(target.connectionString());
        QDir().mkpath(QFileInfo(store).absolutePath());
        removeStore(store);
        QFile::remove(store + QStringLiteral(".damaged"));
        TestSupport::writeFile(store, QByteArray(8192, '\x5a'));
        auto form = fx.makeForm();
        form->setDatabaseOption(target);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QVERIFY(QFile::exists(store + QStringLiteral(".damaged")));
        QCOMPARE(fx.logContents().count(QFile::encodeName(store + QStringLiteral(".damaged"))), 1);
        // Said on the red line too, for a while; none waited in it, so none was queued again
        // from the ledger beside it.
        const QString notice =
            QStringLiteral("本地存储已损坏，已移到一旁（见错误日志）；其中的 0 条刷卡已重新排队");
        QTRY_VERIFY(form->OfflineLine->isVisible());
        QCOMPARE(form->OfflineLine->text(), notice);
        QCOMPARE(pixelAt(*form, form->OfflineLine->geometry().topLeft() + QPoint(3, 3)),
                 TroubleLine::kTroubleColour);
        saveScreenshot(*form, "store-moved-aside.png");

        m_server->stop();
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QVERIFY(form->StatusLine->text().endsWith(QStringLiteral("09:00 刷卡成功！")));
        QTRY_COMPARE(form->OfflineLine->text(), notice + u'\n' + TroubleLine::textFor(true, 1));

        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(store + QLatin1String(suffix));
        form->YgQry->setRecNo(1);
        fx.clock().advanceSecs(30);
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QVERIFY(form->StatusLine->text().endsWith(QStringLiteral("09:00 刷卡成功！")));
        QTRY_COMPARE(form->OfflineLine->text(), notice + u'\n' + TroubleLine::textFor(true, 2));
        QCOMPARE(pixelAt(*form, form->OfflineLine->geometry().topLeft() + QPoint(3, 3)),
                 TroubleLine::kTroubleColour);
        QVERIFY(QFile::exists(store));

        m_server->start();
        QTRY_VERIFY_WITH_TIMEOUT(!form->OfflineLine->isVisible() || form->OfflineLine->text() == notice,
                                 30000);
        QCOMPARE(records("d + t IN ('2026-12-07 09:00:00', '2026-12-07 09:00:30')"), 2);
        QCOMPARE(records(), 2);
    }

    // No server and no copy of the list yet: the band says why the list is empty.
    void noServerAndNoCopyIsSaid()
    {
        TerminalFixture fx;
        const DatabaseTarget target = DatabaseTarget::parse(m_server->conninfo());
        removeStore(LocalStore::pathFor(target.connectionString()));
        m_server->stop();
        auto form = fx.makeForm();
        form->setDatabaseOption(target);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QVERIFY(!form->YgQry->isOpen());
        // One clear line: not "out of reach" a second time, with "0 条" waiting.
        QCOMPARE(form->OfflineLine->text(), QStringLiteral("服务器无法连接，本机也没有员工名单的副本"));
        // Still so once the forwarder has tried the server again.
        QTest::qWait(1500);
        QCOMPARE(form->OfflineLine->text(), QStringLiteral("服务器无法连接，本机也没有员工名单的副本"));
        // A swipe: nobody to swipe for; said, and the reason stays.
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QCOMPARE(form->StatusLine->text(), QStringLiteral("刷卡失败！"));
        QCOMPARE(form->OfflineLine->text(), QStringLiteral("服务器无法连接，本机也没有员工名单的副本"));
        saveScreenshot(*form, "no-server-no-copy.png");
        QCOMPARE(pixelAt(*form, form->OfflineLine->geometry().topLeft() + QPoint(3, 3)),
                 TroubleLine::kTroubleColour);
    }

    // A store that cannot be made: the band says that swipes made while the server is
    // down cannot be kept, and the log says why.
    void unwritableStoreIsShown()
    {
        TerminalFixture fx;
        QTemporaryDir blocked;
        const QString notAFolder = blocked.filePath(QStringLiteral("file"));
        TestSupport::writeFile(notAFolder, "a file where the state folder would be");
        const QByteArray state = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", notAFolder.toUtf8());
        const DatabaseTarget target = DatabaseTarget::parse(m_server->conninfo());
        const QString storePath = LocalStore::pathFor(target.connectionString());
        auto form = fx.makeForm();
        form->setDatabaseOption(target);
        form->show();
        qputenv("XDG_STATE_HOME", state);
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(form->YgQry->recordCount(), int(DevSchema::demoEmployees().size()));
        QVERIFY(form->OfflineLine->isVisible());
        QCOMPARE(form->OfflineLine->text(),
                 QStringLiteral("本地存储 %1 无法写入：服务器断开时的刷卡将无法保存").arg(storePath));
        QCOMPARE(pixelAt(*form, form->OfflineLine->geometry().topLeft() + QPoint(3, 3)),
                 TroubleLine::kTroubleColour);
        QCOMPARE(fx.logContents().count("opening the local store"), 1);

        // Online the swipe still records.
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QVERIFY(form->StatusLine->text().endsWith(QStringLiteral("刷卡成功！")));
        QCOMPARE(records(), 1);
    }
    // A server that takes connections but does not answer the list's statement in time
    // (another program holds the employee table locked, as a busy server at a morning's
    // start does): the window shows its copy within its bound and says it is offline;
    // once the server answers, the list is loaded from it again, with what was added
    // since the copy, and the line goes.
    void aBusyServerGivesTheCopyThenTheServersList()
    {
        TerminalFixture fx;
        const DatabaseTarget target = DatabaseTarget::parse(m_server->conninfo());
        const QString store = LocalStore::pathFor(target.connectionString());
        removeStore(store);
        const int demo = int(DevSchema::demoEmployees().size());
        {
            auto online = fx.makeForm();
            online->setDatabaseOption(target);
            online->show();
            QVERIFY(QTest::qWaitForWindowActive(online.get()));
            QTRY_VERIFY_WITH_TIMEOUT(LocalStore(store).hasEmployeeCopy(), 10000);
        }
        m_server->psql(QStringLiteral("INSERT INTO employ (num, name) VALUES ('0999', '赵新')"));
        const auto removeNew =
            qScopeGuard([this] { m_server->psql(QStringLiteral("DELETE FROM employ WHERE num = '0999'")); });

        QProcess holder;
        holder.start(
            QStringLiteral("psql"),
            {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"),
             m_server->conninfo(QStringLiteral("kq"), m_server->superuser()), QStringLiteral("-c"),
             QStringLiteral("BEGIN; LOCK TABLE employ IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(120)")});
        const auto release = qScopeGuard([&] {
            m_server->psql(
                QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                               "WHERE query LIKE '%pg_sleep(120)%' AND pid <> pg_backend_pid()"));
            holder.waitForFinished(10000);
        });
        QTRY_COMPARE_WITH_TIMEOUT(m_server->psql(QStringLiteral(
                                      "SELECT count(*) FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
                                      "WHERE c.relname = 'employ' AND l.mode = 'AccessExclusiveLock' "
                                      "AND l.granted")),
                                  QStringLiteral("1"), 20000);

        QFile::remove(fx.logPath());
        auto form = fx.makeForm();
        form->setDatabaseOption(target);
        QElapsedTimer start;
        start.start();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        const qint64 shownMs = start.elapsed();
        qInfo("the window showed its copy %lld ms after it was shown, the server busy", shownMs);
        QCOMPARE(form->YgQry->recordCount(), demo);
        QVERIFY(form->OfflineLine->isVisible());
        QCOMPARE(form->OfflineLine->text(), TroubleLine::textFor(true, 0));
        QCOMPARE(pixelAt(*form, form->OfflineLine->geometry().topLeft() + QPoint(3, 3)),
                 TroubleLine::kTroubleColour);
        QVERIFY2(fx.logContents().contains("could not be reached"), fx.logContents().constData());
        saveScreenshot(*form, "busy-server-copy.png");
        // While the table stays locked the line stays, whatever the forwarder finds.
        form->YgQry->setRecNo(2);
        const QString current = form->YgQry->fieldAsString(QStringLiteral("num"));
        QTest::qWait(3000);
        QVERIFY(form->OfflineLine->isVisible());
        QCOMPARE(form->YgQry->recordCount(), demo);

        m_server->psql(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                      "WHERE query LIKE '%pg_sleep(120)%' AND pid <> pg_backend_pid()"));
        QTRY_COMPARE_WITH_TIMEOUT(form->YgQry->recordCount(), demo + 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!form->OfflineLine->isVisible(), 10000);
        QVERIFY(form->YgQry->locate(QStringLiteral("num"), QStringLiteral("0999")));
        QCOMPARE(form->YgQry->fieldAsString(QStringLiteral("name")), QStringLiteral("赵新"));
        QVERIFY(form->YgQry->locate(QStringLiteral("num"), current));
        // The list came from the server: a swipe goes there at once.
        QTest::mouseClick(form->PanelCard, Qt::LeftButton);
        QVERIFY2(form->StatusLine->text().contains(QStringLiteral("刷卡成功")),
                 qPrintable(form->StatusLine->text()));
        QCOMPARE(records(qPrintable(QStringLiteral("num = '%1'").arg(current))), 1);
    }
};

TAVELO_GUI_TEST_MAIN(TestOfflineWindow)
#include "test_offline_window.moc"
