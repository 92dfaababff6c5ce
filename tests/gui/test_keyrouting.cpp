#include "GuiTestSupport.h"

#include "app/EmployeeGrid.h"
#include "app/EmployeeGridModel.h"
#include "app/NumberEdit.h"
#include "app/SimpleStatusBar.h"
#include "query/AdoQuery.h"
#include "platform/VirtualKey.h"
#include "support/SqliteFile.h"

#include <QClipboard>
#include <QPushButton>
#include <QTimer>

class TestKeyRouting : public TerminalTestBase
{
    Q_OBJECT

    EmployeeGrid* grid() const { return m_form->DBGridYg; }
    NumberEdit* edit() const { return m_form->EditYg; }
    QString currentNum() const { return m_form->YgQry->fieldAsString(QStringLiteral("num")); }
    QString status() const { return m_form->StatusLine->text(); }

    // A key as the platform delivers it: the press to the focused control, the release
    // to whichever control has the focus by then.
    void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyPress(QApplication::focusWidget(), key, mods);
        QTest::keyRelease(QApplication::focusWidget(), key, mods);
    }

    void type(const QString& text)
    {
        for (QChar c : text) {
            const QString one(c);
            QTest::sendKeyEvent(QTest::Press, QApplication::focusWidget(), Qt::Key(c.toUpper().unicode()),
                                one, {});
            QTest::sendKeyEvent(QTest::Release, QApplication::focusWidget(), Qt::Key(c.toUpper().unicode()),
                                one, {});
        }
    }

    // Text that QTest cannot type (double-byte characters) goes in directly; then a key
    // typed in the box (Shift, which edits nothing) runs the search as typing would.
    void setBoxText(const QString& text)
    {
        edit()->setFocus(Qt::MouseFocusReason);
        edit()->setText(text);
        QTest::keyClick(edit(), Qt::Key_Shift);
    }

private slots:
    void cleanup() { tearDown(); }

    void virtualKeyMapping()
    {
        QCOMPARE(VirtualKey::fromQt(Qt::Key_Return, {}), 13);
        QCOMPARE(VirtualKey::fromQt(Qt::Key_Enter, Qt::KeypadModifier), 13);
        QCOMPARE(VirtualKey::fromQt(Qt::Key_Backtab, Qt::ShiftModifier | Qt::ControlModifier), 9);
        QCOMPARE(VirtualKey::fromQt(Qt::Key_5, {}), 53);
        QCOMPARE(VirtualKey::fromQt(Qt::Key_5, Qt::KeypadModifier), 101);
        QCOMPARE(VirtualKey::fromQt(Qt::Key_Home, Qt::KeypadModifier), 36);      // Num Lock off
        QCOMPARE(VirtualKey::fromQt(Qt::Key_Exclam, Qt::ShiftModifier), 49);     // US layout fallback
        QCOMPARE(VirtualKey::fromQt(Qt::Key_Exclam, Qt::ShiftModifier, 10), 49); // physical key 1
        QCOMPARE(VirtualKey::fromQt(Qt::Key_ParenRight, Qt::ShiftModifier, 19), 48);
        QCOMPARE(VirtualKey::fromQt(Qt::Key_Ampersand, {}, 10), 49);           // AZERTY's 1 key
        QCOMPARE(VirtualKey::fromQt(Qt::Key_Minus, Qt::ShiftModifier, 20), 0); // not a digit key
        QCOMPARE(VirtualKey::fromQt(Qt::Key_PageUp, {}), 33);
        QCOMPARE(VirtualKey::fromQt(Qt::Key_Escape, {}), 27);
    }

    void enterAndCtrlTabSwipe()
    {
        open(numbered(3));
        press(Qt::Key_Return);
        QVERIFY(status().contains(QStringLiteral("0001")));
        QVERIFY(status().endsWith(QStringLiteral("刷卡成功！")));
        m_fx->clock().advanceSecs(10);
        press(Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(status().endsWith(QStringLiteral("已刷卡")));

        press(Qt::Key_Down);
        QTest::keyClick(grid(), Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(status().startsWith(QStringLiteral("【0002 ")));
        QCOMPARE(QApplication::focusWidget(), grid()); // Ctrl+Tab moves no focus

        press(Qt::Key_Down);
        edit()->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(edit(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(status().startsWith(QStringLiteral("【0003 ")));
        m_fx->clock().advanceSecs(1);
        press(Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(status().startsWith(QStringLiteral("【0003 ")) &&
                status().endsWith(QStringLiteral("已刷卡")));
    }

    void plainTabMovesFocusOnly()
    {
        open(numbered(3));
        edit()->setText(QStringLiteral("0003"));
        grid()->setFocus(Qt::MouseFocusReason);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), m_form->ButtonPower);
        QCOMPARE(currentNum(), QStringLiteral("0001"));
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), edit());
        // Entering by Tab selects the text, and the Tab's release searches with it.
        QCOMPARE(edit()->selectedText(), QStringLiteral("0003"));
        QCOMPARE(currentNum(), QStringLiteral("0003"));
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), grid());
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), edit());
        QCOMPARE(status(), QString());
        const TestSupport::SqliteFile db(m_fx->dbPath(), TestSupport::SqliteFile::Mode::ReadOnly);
        QCOMPARE(db.rows(QStringLiteral("SELECT num FROM sgdjb")), QStringList());
    }

    // The box shows the number the next Enter records: after the list was moved away with
    // the arrows, tabbing back into the box finds its number again.
    void tabIntoTheBoxSearchesItsTextAgain()
    {
        open(employees({"0101", "0102", "0103", "0104", "0105"}));
        type(QStringLiteral("0102"));
        press(Qt::Key_Return);
        QCOMPARE(status(), QStringLiteral("【0102 员工2】 2026-12-07 09:00 刷卡成功！"));
        for (int i = 0; i < 4; ++i) // the first arrow only takes the focus to the list
            press(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), grid());
        QCOMPARE(currentNum(), QStringLiteral("0105"));

        m_fx->clock().advanceSecs(4 * 60);
        press(Qt::Key_Tab);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), edit());
        QCOMPARE(edit()->selectedText(), QStringLiteral("0102"));
        QCOMPARE(currentNum(), QStringLiteral("0102"));
        press(Qt::Key_Return);
        QCOMPARE(status(), QStringLiteral("【0102 员工2】 2026-12-07 09:04 刷卡成功！"));

        // Shift+Tab from the list, with Shift let go before Tab: the Tab's release still
        // searches.
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), grid());
        press(Qt::Key_Down);
        QCOMPARE(currentNum(), QStringLiteral("0103"));
        QTest::keyPress(grid(), Qt::Key_Shift);
        QTest::keyPress(grid(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), edit());
        QTest::keyRelease(edit(), Qt::Key_Shift);
        QCOMPARE(currentNum(), QStringLiteral("0103"));
        QTest::keyRelease(edit(), Qt::Key_Tab);
        QCOMPARE(currentNum(), QStringLiteral("0102"));
        m_fx->clock().advanceSecs(4 * 60);
        press(Qt::Key_Return);

        const TestSupport::SqliteFile db(m_fx->dbPath(), TestSupport::SqliteFile::Mode::ReadOnly);
        QCOMPARE(
            db.rows(QStringLiteral("SELECT num || ' ' || time(T, 'unixepoch') FROM sgdjb ORDER BY rowid")),
            QStringList({QStringLiteral("0102 09:00:00"), QStringLiteral("0102 09:04:00"),
                         QStringLiteral("0102 09:08:00")}));
    }

    void digitsGoToTheBoxArrowsToTheList()
    {
        open(numbered(30));
        edit()->setText(QStringLiteral("0002"));
        QCOMPARE(QApplication::focusWidget(), grid());
        press(Qt::Key_5);
        QCOMPARE(QApplication::focusWidget(), edit());
        // The digit is typed into the box over its old, selected text, and searched.
        QCOMPARE(edit()->text(), QStringLiteral("5"));
        QCOMPARE(currentNum(), QStringLiteral("0001"));

        edit()->selectAll();
        type(QStringLiteral("0012"));
        QCOMPARE(edit()->text(), QStringLiteral("0012"));
        QCOMPARE(currentNum(), QStringLiteral("0012"));

        for (Qt::Key k : {Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Backspace, Qt::Key_Escape}) {
            edit()->setFocus(Qt::MouseFocusReason);
            QTest::keyClick(edit(), k);
            QCOMPARE(QApplication::focusWidget(), edit());
        }
        QCOMPARE(currentNum(), QStringLiteral("0010")); // Backspace left "001"

        for (Qt::Key k : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End}) {
            edit()->setFocus(Qt::MouseFocusReason);
            const QString before = currentNum();
            QTest::keyPress(edit(), k);
            QCOMPARE(QApplication::focusWidget(), grid());
            QCOMPARE(currentNum(), before); // the arrow that moved the focus moves no row
            QTest::keyRelease(QApplication::focusWidget(), k);
        }

        grid()->setFocus(Qt::MouseFocusReason);
        press(Qt::Key_7, Qt::KeypadModifier);
        QCOMPARE(QApplication::focusWidget(), edit());
        grid()->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(grid(), Qt::Key_Exclam, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), edit());
        edit()->setFocus(Qt::MouseFocusReason);
        QTest::keyPress(edit(), Qt::Key_Home, Qt::KeypadModifier);
        QCOMPARE(QApplication::focusWidget(), grid());
        QTest::keyRelease(grid(), Qt::Key_Home, Qt::KeypadModifier);

        grid()->setFocus(Qt::MouseFocusReason);
        for (Qt::Key k : {Qt::Key_PageUp, Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Escape, Qt::Key_A})
            press(k);
        QCOMPARE(QApplication::focusWidget(), grid());
        QCOMPARE(status(), QString());
    }

    // Typed from the list, each number lands in the box whole, over the old text, and is
    // the one searched and swiped; on the main row and on the keypad alike.
    void numberTypedFromTheListIsTheOneSwiped()
    {
        open(employees({"0305", "0401", "0402", "0307"}));
        QCOMPARE(QApplication::focusWidget(), grid());
        type(QStringLiteral("0305"));
        QCOMPARE(edit()->text(), QStringLiteral("0305"));
        press(Qt::Key_Return);
        QCOMPARE(status(), QStringLiteral("【0305 员工1】 2026-12-07 09:00 刷卡成功！"));

        press(Qt::Key_Down); // back to the list
        QCOMPARE(QApplication::focusWidget(), grid());
        type(QStringLiteral("0401"));
        QCOMPARE(QApplication::focusWidget(), edit());
        QCOMPARE(edit()->text(), QStringLiteral("0401"));
        QCOMPARE(currentNum(), QStringLiteral("0401"));
        press(Qt::Key_Return);
        QCOMPARE(status(), QStringLiteral("【0401 员工2】 2026-12-07 09:00 刷卡成功！"));

        grid()->setFocus(Qt::MouseFocusReason);
        for (QChar c : QStringLiteral("0402")) {
            const Qt::Key key = Qt::Key(Qt::Key_0 + c.digitValue());
            QTest::sendKeyEvent(QTest::Press, QApplication::focusWidget(), key, QString(c),
                                Qt::KeypadModifier);
            QTest::sendKeyEvent(QTest::Release, QApplication::focusWidget(), key, QString(c),
                                Qt::KeypadModifier);
        }
        QCOMPARE(edit()->text(), QStringLiteral("0402"));
        press(Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(status(), QStringLiteral("【0402 员工3】 2026-12-07 09:00 刷卡成功！"));

        const TestSupport::SqliteFile db(m_fx->dbPath(), TestSupport::SqliteFile::Mode::ReadOnly);
        QCOMPARE(db.rows(QStringLiteral("SELECT num FROM sgdjb ORDER BY rowid")),
                 QStringList({QStringLiteral("0305"), QStringLiteral("0401"), QStringLiteral("0402")}));
    }

    // Without a database the search fails into the error box. The Enter that closes the box
    // is released in the number box, which did not receive its press: that release must
    // not search and open the box again, or a keyboard-only operator is trapped.
    void enterThatClosesTheErrorBoxDoesNotReopenIt()
    {
        open({}, false);
        MessageBox::clearShown();
        int answered = 0;
        QTimer answer;
        answer.setInterval(20);
        connect(&answer, &QTimer::timeout, this, [&answered] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                ++answered;
                QTest::keyPress(box, Qt::Key_Return);
            }
        });
        answer.start();

        QTest::keyPress(QApplication::focusWidget(), Qt::Key_1);
        QCOMPARE(QApplication::focusWidget(), edit());
        QTest::keyRelease(edit(), Qt::Key_1); // searches: the real error box, closed by Enter
        QCOMPARE(answered, 1);
        // The window manager hands the activation back to the window.
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QCOMPARE(QApplication::focusWidget(), edit());
        QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Return);
        QTest::qWait(100);
        answer.stop();
        QCOMPARE(answered, 1);
        QCOMPARE(MessageBox::shown().size(), size_t(1));

        // Keys typed into the box afterwards search (and fail) as before.
        MessageBox::setNextAnswer(QMessageBox::Ok);
        press(Qt::Key_2);
        QCOMPARE(MessageBox::shown().size(), size_t(2));
    }

    void boxHasNoLengthLimit()
    {
        open(employees({"0001", "000299"}));
        const QString text = QStringLiteral("0002") + QString(39996, u'9');
        QGuiApplication::clipboard()->setText(text);
        edit()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(edit(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit()->text().size(), text.size());
        QCOMPARE(edit()->text(), text);
        QCOMPARE(currentNum(), QStringLiteral("000299")); // its first 6 bytes searched
        QTest::keyClick(edit(), Qt::Key_8);
        QCOMPARE(edit()->text().size(), text.size() + 1);
    }

    void mouseFocusPlacesCaret()
    {
        open(numbered(3));
        edit()->setText(QStringLiteral("0003"));
        QTest::mouseClick(edit(), Qt::LeftButton, {}, QPoint(5, edit()->height() / 2));
        QCOMPARE(QApplication::focusWidget(), edit());
        QVERIFY(!edit()->hasSelectedText());
    }

    void searchKeyRules()
    {
        QList<DevSchema::Employee> rows =
            employees({"0105", "0101", "0103", "1234567", "1234560", "123460", "123469", "AB12", "cd34"});
        open(rows);
        setBoxText(QStringLiteral("010"));
        QCOMPARE(currentNum(), QStringLiteral("0101"));
        QCOMPARE(m_form->YgQry->recNo(), 1);

        setBoxText(QStringLiteral("1234567")); // cut to 123456: the first in ascending order
        QCOMPARE(currentNum(), QStringLiteral("1234560"));
        // Six bytes, not five ("12346" finds 123460 first) nor seven ("1234699" matches
        // nobody).
        setBoxText(QStringLiteral("1234699"));
        QCOMPARE(currentNum(), QStringLiteral("123469"));

        setBoxText(QStringLiteral("  0103\t "));
        QCOMPARE(currentNum(), QStringLiteral("0103"));
        setBoxText(QStringLiteral("   "));
        QCOMPARE(currentNum(), QStringLiteral("0103"));
        setBoxText(QString());
        QCOMPARE(currentNum(), QStringLiteral("0103"));
        setBoxText(QStringLiteral("ab"));
        QCOMPARE(currentNum(), QStringLiteral("AB12"));
        setBoxText(QStringLiteral("CD"));
        QCOMPARE(currentNum(), QStringLiteral("cd34"));

        // No match leaves the previous employee current, and Enter swipes for them.
        setBoxText(QStringLiteral("0103"));
        setBoxText(QStringLiteral("9"));
        QCOMPARE(currentNum(), QStringLiteral("0103"));
        press(Qt::Key_Return);
        QVERIFY(status().startsWith(QStringLiteral("【0103 ")));
    }

    void searchTreatsPatternCharactersAsText()
    {
        open(employees(
            {"AB1", "A_1", "A%1", "A'1", "A*1", "张三丰01", "张三丰00", "1张三丰", "1230", "123张0"}));
        setBoxText(QStringLiteral("A_"));
        QCOMPARE(currentNum(), QStringLiteral("A_1"));
        setBoxText(QStringLiteral("A%"));
        QCOMPARE(currentNum(), QStringLiteral("A%1"));
        setBoxText(QStringLiteral("a'"));
        QCOMPARE(currentNum(), QStringLiteral("A'1"));
        setBoxText(QStringLiteral("A*"));
        QCOMPARE(currentNum(), QStringLiteral("A*1"));
        // Six GBK bytes are three double-byte characters.
        setBoxText(QStringLiteral("张三丰01"));
        QCOMPARE(currentNum(), QStringLiteral("张三丰00"));
        // "A张三丰" is cut inside 丰: the search goes on with the whole characters.
        setBoxText(QStringLiteral("A'1"));
        setBoxText(QStringLiteral("张张三丰"));
        QCOMPARE(currentNum(), QStringLiteral("A'1"));
        setBoxText(QStringLiteral("1张三丰"));
        QCOMPARE(currentNum(), QStringLiteral("1张三丰"));
        // "123张三" is seven bytes; the sixth is the first half of 三, which drops out: the
        // key is "123张", not "123" (1230) and not a stray half character (no match).
        setBoxText(QStringLiteral("123张三"));
        QCOMPARE(currentNum(), QStringLiteral("123张0"));
        QCOMPARE(m_fx->logContents(), QByteArray());
    }

    void foundRowIsCentred()
    {
        open(numbered(200));
        const int n = grid()->visibleRowCount();
        setBoxText(QStringLiteral("0100"));
        QCOMPARE(m_form->YgQry->recNo(), 99);
        QCOMPARE(grid()->topRow(), 99 - (n - 1) / 2);
        grid()->setTopRow(0); // scrolled away, the same key centres it again
        setBoxText(QStringLiteral("0100"));
        QCOMPARE(grid()->topRow(), 99 - (n - 1) / 2);
        setBoxText(QStringLiteral("0200"));
        QCOMPARE(grid()->topRow(), 200 - n);
        setBoxText(QStringLiteral("0002"));
        QCOMPARE(grid()->topRow(), 0);
        QVERIFY(grid()->selectionModel()->isRowSelected(1, {}));
    }

    void closedQueryShowsErrorAndCarriesOn()
    {
        open({}, false);
        MessageBox::clearShown();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        press(Qt::Key_1); // focus moves into the box; the release there searches
        QCOMPARE(QApplication::focusWidget(), edit());
        QCOMPARE(MessageBox::shown().size(), size_t(1));
        QCOMPARE(MessageBox::shown().front().text,
                 QStringLiteral("YgQry: Cannot perform this operation on a closed dataset."));
        press(Qt::Key_Return); // a swipe in this state records nothing, and says so
        QCOMPARE(status(), QStringLiteral("刷卡失败！"));
        QCOMPARE(MessageBox::shown().size(), size_t(2)); // only the Enter's release searched again

        // Tabbing into the box searches on the Tab's release, and fails the same way.
        MessageBox::setNextAnswer(QMessageBox::Ok);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), grid());
        press(Qt::Key_Tab);
        QCOMPARE(MessageBox::shown().size(), size_t(2));
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), edit());
        QCOMPARE(MessageBox::shown().size(), size_t(3));
        QCOMPARE(MessageBox::shown().back().text,
                 QStringLiteral("YgQry: Cannot perform this operation on a closed dataset."));
    }
};

TAVELO_GUI_TEST_MAIN(TestKeyRouting)
#include "test_keyrouting.moc"
