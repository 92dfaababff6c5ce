// The red trouble line and the status line of a terminal on a database file, through the
// real window: a start that cannot open the database says why and where, a swipe that
// cannot be recorded says "刷卡失败" for the employee who swiped (never leaving the previous
// success standing) and why, until the next swipe is recorded; and an export left
// blocked on its output does not hold up a swipe.

#include "GuiTestSupport.h"

#include "app/CardPanel.h"
#include "app/EmployeeGrid.h"
#include "app/EmployeeGridModel.h"
#include "app/NumberEdit.h"
#include "app/SimpleStatusBar.h"
#include "app/TroubleLine.h"
#include "query/AdoQuery.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

const QString kRecords = QStringLiteral("SELECT count(*) FROM sgdjb");

// The first bytes of an Access 2000 file, as the attendance software leaves kq.mdb.
QByteArray accessHeader()
{
    QByteArray bytes(4096, '\0');
    bytes.replace(0, 4, QByteArray("\x00\x01\x00\x00", 4));
    bytes.replace(4, 15, "Standard Jet DB");
    return bytes;
}

// A pipe whose reader reads nothing is full once its writer is blocked on it.
bool pipeIsFull(int readEnd)
{
    int waiting = 0;
    return ::ioctl(readEnd, FIONREAD, &waiting) == 0 && waiting >= ::fcntl(readEnd, F_GETPIPE_SZ);
}

} // namespace

class TestTroubleLine : public TerminalTestBase
{
    Q_OBJECT

    static QColor bandColour(TQuorelMainForm& form)
    {
        return form.grab().toImage().pixelColor(form.OfflineLine->geometry().topLeft() + QPoint(3, 3));
    }

    void saveScreenshot(const char* name)
    {
        const QByteArray dir = qgetenv("TAVELO_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            m_form->grab().save(QString::fromLocal8Bit(dir) + u'/' + QLatin1String(name));
    }

    qint64 records() const { return TestSupport::SqliteFile(m_fx->dbPath()).scalar(kRecords); }

    // The status line and the band as the operator sees them after a failed swipe.
    void expectFailed(const QString& employee, const QString& reason)
    {
        QCOMPARE(m_form->StatusLine->text(),
                 QStringLiteral("【%1】 2026-12-07 09:00 刷卡失败！").arg(employee));
        QVERIFY(m_form->OfflineLine->isVisible());
        QCOMPARE(m_form->OfflineLine->text(), QStringLiteral("刷卡失败：") + reason);
        QCOMPARE(bandColour(*m_form), TroubleLine::kTroubleColour);
    }

    void expectRecorded(const QString& employee)
    {
        QCOMPARE(m_form->StatusLine->text(),
                 QStringLiteral("【%1】 2026-12-07 09:00 刷卡成功！").arg(employee));
        QVERIFY(!m_form->OfflineLine->isVisible());
        QVERIFY(bandColour(*m_form) != TroubleLine::kTroubleColour);
    }

    void swipe() { QTest::mouseClick(m_form->PanelCard, Qt::LeftButton); }

private slots:
    void cleanup() { tearDown(); }

    void eachStartFailureShowsItsLine()
    {
        struct Case
        {
            const char* name;
            std::function<QString(TerminalFixture&)> prepare; // returns the expected line
        };
        const Case cases[] = {
            {"missing folder",
             [](TerminalFixture& fx) {
                 const QString folder = fx.dbFolder() + QStringLiteral("/gone");
                 fx.pointSettingsAt(folder);
                 return QStringLiteral("无法打开数据库：文件夹 %1 不存在").arg(folder);
             }},
            {"missing file",
             [](TerminalFixture& fx) {
                 QDir().mkpath(fx.dbFolder());
                 fx.pointSettingsAt(fx.dbFolder());
                 return QStringLiteral("无法打开数据库：文件 %1 不存在").arg(fx.dbPath());
             }},
            {"an Access file",
             [](TerminalFixture& fx) {
                 QDir().mkpath(fx.dbFolder());
                 fx.pointSettingsAt(fx.dbFolder());
                 TestSupport::writeFile(fx.dbPath(), accessHeader());
                 return QStringLiteral("%1 是 Access 数据库，请先转换：kqdb import-mdb %1 新文件.sqlite")
                     .arg(fx.dbPath());
             }},
            {"not a database",
             [](TerminalFixture& fx) {
                 QDir().mkpath(fx.dbFolder());
                 fx.pointSettingsAt(fx.dbFolder());
                 TestSupport::writeFile(fx.dbPath(), QByteArray(8192, '\x5a'));
                 return QStringLiteral("无法打开数据库：%1 不是数据库文件").arg(fx.dbPath());
             }},
            {"a database without the employee table",
             [](TerminalFixture& fx) {
                 QDir().mkpath(fx.dbFolder());
                 fx.pointSettingsAt(fx.dbFolder());
                 TestSupport::SqliteFile(fx.dbPath(), TestSupport::SqliteFile::Mode::Create)
                     .exec(QStringLiteral("CREATE TABLE other (x)"));
                 return QStringLiteral("数据库 %1 中没有员工表 employ").arg(fx.dbPath());
             }},
        };
        for (const Case& c : cases) {
            TerminalFixture fx;
            const QString expected = c.prepare(fx);
            auto form = fx.makeForm();
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
            QVERIFY2(form->OfflineLine->isVisible(), c.name);
            QCOMPARE(form->OfflineLine->text(), expected);
            QCOMPARE(bandColour(*form), TroubleLine::kTroubleColour);
            // The band lies in the gap between the card area and the number box.
            QVERIFY(!form->OfflineLine->geometry().intersects(form->PanelCard->geometry()));
            QVERIFY(!form->OfflineLine->geometry().intersects(form->EditYg->geometry()));
            QCOMPARE(form->StatusLine->text(), QString());
            QCOMPARE(fx.logContents().count("\r\n"), 1);
            QVERIFY(MessageBox::shown().empty());
            if (const QByteArray dir = qgetenv("TAVELO_SCREENSHOT_DIR"); !dir.isEmpty())
                form->grab().save(
                    QStringLiteral("%1/start-%2.png")
                        .arg(QString::fromLocal8Bit(dir), QString::fromLatin1(c.name).replace(u' ', u'-')));
        }

        // All well: no band, and the card area's navy reaches down to the gap's grey.
        open(employees({"0001"}));
        QVERIFY(!m_form->OfflineLine->isVisible());
        QCOMPARE(bandColour(*m_form), m_form->palette().color(QPalette::Window));
    }

    // A key that asks for a swipe never leaves the screen as it was: with no database (the
    // start failure's reason stays on the red line) and with an empty list (the red line
    // says the list is empty), by Enter in the list and by a click on the card area alike.
    void swipeWithNobodyToSwipeFor()
    {
        open({}, false);
        const QString startFailure = m_form->OfflineLine->text();
        QVERIFY(startFailure.startsWith(QStringLiteral("无法打开数据库：文件 ")));
        QCOMPARE(m_form->StatusLine->text(), QString());
        const QImage before = m_form->grab().toImage();
        QTest::keyClick(m_form->DBGridYg, Qt::Key_Return);
        QCOMPARE(m_form->StatusLine->text(), QStringLiteral("刷卡失败！"));
        QCOMPARE(m_form->OfflineLine->text(), startFailure);
        QCOMPARE(bandColour(*m_form), TroubleLine::kTroubleColour);
        // Seen on the screen, not only in the widget: the status line's pixels changed.
        const QRect status = m_form->StatusLine->geometry();
        QVERIFY(m_form->grab(status).toImage() != before.copy(status));
        QVERIFY(MessageBox::shown().empty());
        saveScreenshot("swipe-without-database.png");

        open({});
        QVERIFY(!m_form->OfflineLine->isVisible());
        swipe();
        QCOMPARE(m_form->StatusLine->text(), QStringLiteral("刷卡失败！"));
        QVERIFY(m_form->OfflineLine->isVisible());
        QCOMPARE(m_form->OfflineLine->text(), QStringLiteral("刷卡失败：员工名单是空的"));
        QCOMPARE(bandColour(*m_form), TroubleLine::kTroubleColour);
        QCOMPARE(records(), 0);
        saveScreenshot("swipe-on-empty-list.png");
    }

    // A writer holding the file past the busy timeout: the swipe fails for the employee
    // who swiped, not with the previous one's success, and the next good swipe clears it.
    // Another program holds the file past the terminal's short wait: the swipe is kept in the
    // local store and shown as recorded, the band says the file is held and how many swipes
    // wait, and the swipe lands in the file once it is free. Where no store can be kept,
    // the swipe fails and says why.
    void lockedPastTheBusyTimeout()
    {
        QTemporaryDir state;
        const QString notAFolder = state.filePath(QStringLiteral("not-a-folder"));
        TestSupport::writeFile(notAFolder, "x");
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", notAFolder.toUtf8());
        open(employees({"0001", "0002"}));
        m_form->DBGridYg->moveToRow(1);
        {
            TestSupport::SqliteFile other(m_fx->dbPath());
            other.exec(QStringLiteral("BEGIN EXCLUSIVE"));
            swipe();
            expectFailed(QStringLiteral("0002 员工2"), QStringLiteral("数据库被其他程序锁定"));
            other.exec(QStringLiteral("ROLLBACK"));
        }
        QCOMPARE(records(), 0);

        qputenv("XDG_STATE_HOME", state.path().toUtf8());
        open(employees({"0001", "0002"}));
        swipe();
        expectRecorded(QStringLiteral("0001 员工1"));
        m_form->DBGridYg->moveToRow(1);
        {
            TestSupport::SqliteFile other(m_fx->dbPath());
            other.exec(QStringLiteral("BEGIN EXCLUSIVE"));
            swipe();
            QCOMPARE(m_form->StatusLine->text(),
                     QStringLiteral("【0002 员工2】 2026-12-07 09:00 刷卡成功！"));
            QCOMPARE(m_form->OfflineLine->text(), QStringLiteral("数据库被其他程序锁定：1 条刷卡待写入"));
            QCOMPARE(bandColour(*m_form), TroubleLine::kTroubleColour);
            saveScreenshot("trouble-locked.png");
            QCOMPARE(records(), 1);
            other.exec(QStringLiteral("ROLLBACK"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(records(), qint64(2), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_form->OfflineLine->isVisible(), 15000);

        // Once each: the kept swipe counts under the three-minute rule.
        swipe();
        QVERIFY(m_form->StatusLine->text().endsWith(QStringLiteral("已刷卡")));
        QCOMPARE(records(), 2);
        qputenv("XDG_STATE_HOME", saved);
    }

    // A row without a number records nothing, and says so instead of leaving the previous
    // employee's success standing.
    void employeeWithoutNumber()
    {
        open(employees({"0001"}));
        swipe();
        expectRecorded(QStringLiteral("0001 员工1"));
        TestSupport::SqliteFile(m_fx->dbPath())
            .exec(QStringLiteral("INSERT INTO employ VALUES ('', '无号', '01')"));
        m_form.reset();
        m_form = m_fx->makeForm();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        m_form->DBGridYg->moveToRow(1);
        QCOMPARE(m_form->YgQry->fieldAsString(QStringLiteral("name")), QStringLiteral("无号"));
        swipe();
        expectFailed(QStringLiteral(" 无号"), QStringLiteral("该员工没有编号"));
        QCOMPARE(records(), 1);
    }

    void deletedFile()
    {
        open(employees({"0001", "0002"}));
        swipe();
        expectRecorded(QStringLiteral("0001 员工1"));
        const QByteArray kept = TestSupport::fileBytes(m_fx->dbPath());

        QVERIFY(QFile::remove(m_fx->dbPath()));
        m_form->DBGridYg->moveToRow(1);
        swipe();
        expectFailed(QStringLiteral("0002 员工2"), QStringLiteral("数据库文件不见了"));
        QVERIFY(!QFile::exists(m_fx->dbPath()));
        QCOMPARE(m_form->DBGridYg->gridModel()->rowCount(), 2);

        TestSupport::writeFile(m_fx->dbPath(), kept);
        swipe();
        expectRecorded(QStringLiteral("0002 员工2"));
        QCOMPARE(records(), 2);
    }

    // A real full disk: the database on a tiny tmpfs, the rest of it taken by another file.
    void fullDisk()
    {
        QVERIFY2(::geteuid() == 0, "mounting the tiny file system needs root, as the tests run in CI");
        m_fx = std::make_unique<TerminalFixture>();
        const QString mountPoint = m_fx->dbFolder();
        QVERIFY(QDir().mkpath(mountPoint));
        QVERIFY2(::mount("tavelo-test", QFile::encodeName(mountPoint).constData(), "tmpfs", 0,
                         "size=256k,mode=0755") == 0,
                 std::strerror(errno));
        // Unmounted whatever happens, after the window has let go of the file.
        const auto unmount = qScopeGuard([&] {
            m_form.reset();
            if (::umount(QFile::encodeName(mountPoint).constData()) != 0)
                ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
        });
        QString error;
        QVERIFY2(DevSchema::createDatabase(m_fx->dbPath(), employees({"0001", "0002"}), &error),
                 qPrintable(error));
        m_fx->pointSettingsAt(mountPoint);
        m_form = m_fx->makeForm();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        swipe();
        expectRecorded(QStringLiteral("0001 员工1"));

        const QString filler = mountPoint + QStringLiteral("/filler");
        {
            QFile file(filler);
            QVERIFY(file.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (file.write(block) == block.size() && file.flush()) {
            }
        }
        m_form->DBGridYg->moveToRow(1);
        swipe();
        expectFailed(QStringLiteral("0002 员工2"), QStringLiteral("磁盘已满"));
        saveScreenshot("trouble-disk-full.png");

        QVERIFY(QFile::remove(filler));
        swipe();
        expectRecorded(QStringLiteral("0002 员工2"));
        QCOMPARE(records(), 2);
    }

    // A database on a file system mounted read-only: no permission would help, and the
    // line says what is in the way.
    void readOnlyMount()
    {
        QVERIFY2(::geteuid() == 0, "mounting the file system needs root, as the tests run in CI");
        m_fx = std::make_unique<TerminalFixture>();
        const QString mountPoint = m_fx->dbFolder();
        const QByteArray where = QFile::encodeName(mountPoint);
        QVERIFY(QDir().mkpath(mountPoint));
        QVERIFY2(::mount("tavelo-test", where.constData(), "tmpfs", 0, "size=256k,mode=0755") == 0,
                 std::strerror(errno));
        const auto unmount = qScopeGuard([&] {
            m_form.reset();
            if (::umount(where.constData()) != 0)
                ::umount2(where.constData(), MNT_DETACH);
        });
        QString error;
        QVERIFY2(DevSchema::createDatabase(m_fx->dbPath(), employees({"0001"}), &error), qPrintable(error));
        QVERIFY2(::mount("tavelo-test", where.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=256k") == 0,
                 std::strerror(errno));
        m_fx->pointSettingsAt(mountPoint);
        m_form = m_fx->makeForm();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QVERIFY(m_form->OfflineLine->isVisible());
        QCOMPARE(m_form->OfflineLine->text(),
                 QStringLiteral("数据库 %1 所在的磁盘是只读的，无法写入").arg(m_fx->dbPath()));
        QCOMPARE(bandColour(*m_form), TroubleLine::kTroubleColour);
    }

    // `kqdb export` writing into a pipe nobody reads: a swipe of the same file records at once.
    void exportHeldOpenDoesNotDelayASwipe()
    {
        open(employees({"0001", "0002", "0003"}));
        {
            TestSupport::SqliteFile db(m_fx->dbPath());
            // Far more output than a pipe holds.
            db.exec(QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                "INSERT INTO sgdjb SELECT '0009', '旧记录', 1700000000 - i * 600, 0, 0 FROM n"));
        }
        QElapsedTimer usual;
        usual.start();
        swipe();
        const qint64 usualMs = usual.elapsed();
        expectRecorded(QStringLiteral("0001 员工1"));

        int output[2];
        QVERIFY(::pipe2(output, O_CLOEXEC) == 0);
        const auto closePipe = qScopeGuard([&] {
            ::close(output[0]);
            if (output[1] >= 0)
                ::close(output[1]);
        });
        QProcess exporter;
        exporter.setChildProcessModifier([&] { ::dup2(output[1], STDOUT_FILENO); });
        exporter.setStandardOutputFile(QProcess::nullDevice());
        exporter.start(QStringLiteral(TAVELO_BIN_DIR "/kqdb"), {QStringLiteral("export"), m_fx->dbPath()});
        QVERIFY(exporter.waitForStarted());
        const auto stop = qScopeGuard([&] {
            exporter.kill();
            exporter.waitForFinished(5000);
        });
        ::close(output[1]);
        output[1] = -1;
        QTRY_VERIFY_WITH_TIMEOUT(pipeIsFull(output[0]), 20000);

        m_form->DBGridYg->moveToRow(1);
        QElapsedTimer held;
        held.start();
        swipe();
        const qint64 heldMs = held.elapsed();
        qInfo("swipe alone: %lld ms; with an export blocked on its output: %lld ms", usualMs, heldMs);
        expectRecorded(QStringLiteral("0002 员工2"));
        QVERIFY2(heldMs < usualMs + 100, qPrintable(QString::number(heldMs)));
        QCOMPARE(exporter.state(), QProcess::Running);
        QCOMPARE(records(), 20002);
    }
};

TAVELO_GUI_TEST_MAIN(TestTroubleLine)
#include "test_trouble_line.moc"
