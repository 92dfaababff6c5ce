// A card reader in the window: a burst of keys with their own time stamps, as a keyboard
// wedge types them, wherever the focus is. (tests/wm has the same with keys from a real
// display server.)

#include "GuiTestSupport.h"

#include "app/CardPanel.h"
#include "app/EmployeeGrid.h"
#include "app/NumberEdit.h"
#include "app/SimpleStatusBar.h"
#include "app/TroubleLine.h"
#include "query/AdoQuery.h"
#include "support/SqliteFile.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

class TestCardReader : public TerminalTestBase
{
    Q_OBJECT

    quint64 m_stamp = 100000;

    QString status() const { return m_form->StatusLine->text(); }
    QString currentNum() const { return m_form->YgQry->fieldAsString(QStringLiteral("num")); }
    QStringList records() const
    {
        return TestSupport::SqliteFile(m_fx->dbPath())
            .rows(QStringLiteral("SELECT num FROM sgdjb ORDER BY rowid"));
    }

    // One key as a keyboard or a reader sends it: the press and the release to where the
    // focus is, stamped gapMs after the previous key.
    void key(int code, const QString& text, int gapMs)
    {
        m_stamp += quint64(gapMs);
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, code, Qt::NoModifier, text);
            event.setTimestamp(m_stamp + (type == QEvent::KeyRelease ? 1 : 0));
            QWidget* target = QApplication::focusWidget();
            if (!target)
                target = QApplication::activeModalWidget();
            QApplication::sendEvent(target, &event);
        }
    }

    // The digits and Enter, gapMs apart, half a second after the key before.
    void typeAt(const QString& digits, int gapMs)
    {
        m_stamp += 500;
        for (QChar c : digits)
            key(Qt::Key_0 + (c.unicode() - u'0'), QString(c), gapMs);
        key(Qt::Key_Return, QStringLiteral("\r"), gapMs);
        // A key held back for a moment reaches its control once the reader's gap is over.
        QTest::qWait(150);
    }

    void openWithCards()
    {
        open(numbered(20));
        TestSupport::SqliteFile(m_fx->dbPath())
            .exec(QStringLiteral(
                "INSERT INTO card (card, num) VALUES ('0012345678', '0007'), ('0099000001', '0015')"));
        // The cards are read with the list, at show: a window shown anew reads them.
        m_form.reset();
        m_form = m_fx->makeForm();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }

private slots:
    void cleanup() { tearDown(); }

    void readWithTheFocusOnTheListRecordsTheHolder()
    {
        openWithCards();
        QCOMPARE(QApplication::focusWidget(), m_form->DBGridYg);
        typeAt(QStringLiteral("0012345678"), 4);
        QCOMPARE(records(), QStringList({QStringLiteral("0007")}));
        QCOMPARE(status(), QStringLiteral("【0007 员工7】 2026-12-07 09:00 刷卡成功！"));
        QCOMPARE(currentNum(), QStringLiteral("0007"));
        QCOMPARE(m_form->EditYg->text(), QString());
        QCOMPARE(QApplication::focusWidget(), m_form->DBGridYg);
        QVERIFY(!m_form->OfflineLine->isVisible());
    }

    void readWithTheFocusInTheBoxLeavesTheBoxAsItWas()
    {
        openWithCards();
        for (QChar c : QStringLiteral("0003"))
            key(Qt::Key_0 + (c.unicode() - u'0'), QString(c), 150);
        QTest::qWait(150);
        QCOMPARE(QApplication::focusWidget(), m_form->EditYg);
        QCOMPARE(currentNum(), QStringLiteral("0003"));
        typeAt(QStringLiteral("0099000001"), 6);
        QCOMPARE(records(), QStringList({QStringLiteral("0015")}));
        QCOMPARE(status(), QStringLiteral("【0015 员工15】 2026-12-07 09:00 刷卡成功！"));
        QCOMPARE(m_form->EditYg->text(), QStringLiteral("0003"));
        QCOMPARE(currentNum(), QStringLiteral("0015"));
        // The same card again within three minutes: already recorded, as for a click.
        m_fx->clock().advanceSecs(30);
        typeAt(QStringLiteral("0099000001"), 6);
        QCOMPARE(records(), QStringList({QStringLiteral("0015")}));
        QCOMPARE(status(), QStringLiteral("【0015 员工15】 2026-12-07 09:00 已刷卡"));
    }

    void unknownCardRecordsNobodyAndNamesTheCard()
    {
        openWithCards();
        // A success standing in the status line must not be taken for the card's.
        QTest::mouseClick(m_form->PanelCard, Qt::LeftButton);
        QCOMPARE(records(), QStringList({QStringLiteral("0001")}));
        m_fx->clock().advanceSecs(600);
        typeAt(QStringLiteral("0012999999"), 5);
        QCOMPARE(records(), QStringList({QStringLiteral("0001")}));
        QCOMPARE(status(), QStringLiteral("【卡 0012999999】 2026-12-07 09:10 刷卡失败！"));
        QVERIFY(m_form->OfflineLine->isVisible());
        QCOMPARE(m_form->OfflineLine->text(), QStringLiteral("刷卡失败：卡 0012999999 未登记，请找管理员"));
        QCOMPARE(currentNum(), QStringLiteral("0001"));
        QCOMPARE(m_form->EditYg->text(), QString());
        const QByteArray log = m_fx->logContents();
        QCOMPARE(log.count("\r\n"), 1);
        QVERIFY(log.contains("0012999999"));
        // The next recorded swipe clears the red line.
        typeAt(QStringLiteral("0012345678"), 5);
        QVERIFY(!m_form->OfflineLine->isVisible());
    }

    // The same digits at a person's pace: the quick search and Enter as they have always
    // been, the employee whose number starts with them recorded.
    void theSameDigitsTypedByAPersonSearchAsToday()
    {
        openWithCards();
        typeAt(QStringLiteral("0012"), 150);
        QCOMPARE(records(), QStringList({QStringLiteral("0012")}));
        QCOMPARE(m_form->EditYg->text(), QStringLiteral("0012"));
        QCOMPARE(status(), QStringLiteral("【0012 员工12】 2026-12-07 09:00 刷卡成功！"));
        // Backspace and a new digit, slowly: the box edits as ever.
        key(Qt::Key_Backspace, QString(), 150);
        key(Qt::Key_5, QStringLiteral("5"), 150);
        QTest::qWait(150);
        QCOMPARE(m_form->EditYg->text(), QStringLiteral("0015"));
        QCOMPARE(currentNum(), QStringLiteral("0015"));
        QCOMPARE(m_fx->logContents(), QByteArray());
    }

    // A reader set to send no Enter: the burst alone is the read; an Enter pressed soon
    // after is the reader's (or a person's at the card's heels) and swipes nobody else.
    void aReadWithoutEnterAndALateEnter()
    {
        openWithCards();
        m_stamp += 500;
        for (QChar c : QStringLiteral("0012345678"))
            key(Qt::Key_0 + (c.unicode() - u'0'), QString(c), 4);
        QTest::qWait(200);
        QCOMPARE(records(), QStringList({QStringLiteral("0007")}));
        QCOMPARE(m_form->EditYg->text(), QString());
        key(Qt::Key_Return, QStringLiteral("\r"), 300);
        QTest::qWait(100);
        QCOMPARE(status(), QStringLiteral("【0007 员工7】 2026-12-07 09:00 刷卡成功！"));
        // Later, Enter is a person's again: it swipes the current employee, the holder.
        m_fx->clock().advanceSecs(30);
        key(Qt::Key_Return, QStringLiteral("\r"), 2000);
        QTest::qWait(100);
        QCOMPARE(status(), QStringLiteral("【0007 员工7】 2026-12-07 09:00 已刷卡"));
        QCOMPARE(records(), QStringList({QStringLiteral("0007")}));
    }

    void aReadWhileABoxIsOpenRecordsNobodyAndLeavesTheBoxOpen()
    {
        openWithCards();
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tavelo"), QStringLiteral("YgQry: something."),
                        QMessageBox::Ok, m_form.get());
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QCOMPARE(QApplication::activeModalWidget(), &box);
        typeAt(QStringLiteral("0012345678"), 4);
        QVERIFY(box.isVisible());
        QCOMPARE(records(), QStringList());
        QCOMPARE(m_form->OfflineLine->text(),
                 QStringLiteral("刷卡失败：请先关闭提示框，卡 0012345678 未记录"));
        QCOMPARE(m_fx->logContents().count("\r\n"), 1);
    }

    void theGapComesFromTheSettings()
    {
        m_fx = std::make_unique<TerminalFixture>();
        QSettings store(SettingsStore::userStorePath(), QSettings::IniFormat);
        store.setValue(QStringLiteral("Software/Tavelo/cardReaderKeyGap"), QStringLiteral("10"));
        store.sync();
        m_fx->createDatabase(numbered(20));
        TestSupport::SqliteFile(m_fx->dbPath())
            .exec(QStringLiteral("INSERT INTO card (card, num) VALUES ('0012345678', '0007')"));
        m_form = m_fx->makeForm();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        // 20 ms apart is slower than this site's reader: typing, which finds 0012.
        typeAt(QStringLiteral("0012345678"), 20);
        QCOMPARE(m_form->EditYg->text(), QStringLiteral("0012345678"));
        QCOMPARE(records(), QStringList({QStringLiteral("0012")}));
    }
};

TAVELO_GUI_TEST_MAIN(TestCardReader)
#include "test_card_reader.moc"
