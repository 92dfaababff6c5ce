// The terminal's language: Chinese unless the settings or the locale ask for English; in
// English every text the window and the red line show is the shipped translation, and
// nothing of the window moves.

#include "GuiTestSupport.h"

#include "app/CardPanel.h"
#include "app/EmployeeGrid.h"
#include "app/EmployeeGridModel.h"
#include "app/SimpleStatusBar.h"
#include "app/TerminalLanguage.h"
#include "app/TroubleLine.h"
#include "attendance/TroubleText.h"
#include "support/TestSupport.h"

#include <QPushButton>
#include <QTranslator>

namespace {

using Language = TerminalLanguage::Language;

// Where each widget of the window lies, by name.
QMap<QString, QRect> layoutOf(TQuorelMainForm& form)
{
    QMap<QString, QRect> where;
    where.insert(QStringLiteral("window"), form.geometry());
    for (QWidget* child : form.findChildren<QWidget*>())
        if (!child->objectName().isEmpty())
            where.insert(child->objectName(), child->geometry());
    for (int column = 0; column < 2; ++column)
        where.insert(QStringLiteral("column %1").arg(column),
                     QRect(0, 0, form.DBGridYg->columnWidth(column), 0));
    return where;
}

} // namespace

class TestLanguage : public TerminalTestBase
{
    Q_OBJECT

    // The window on a file with two employees, after a swipe made while another program holds
    // the file (the swipe is kept until the file is free): its texts and where its widgets lie.
    struct Seen
    {
        QString title, button, caption, number, name, status, trouble;
        QMap<QString, QRect> layout;
    };

    Seen lookAtTheWindow()
    {
        open(employees({"0001", "0002"}));
        Seen seen;
        seen.title = m_form->windowTitle();
        seen.button = m_form->ButtonPower->text();
        seen.caption = m_form->PanelCard->caption();
        const auto* model = m_form->DBGridYg->gridModel();
        seen.number = model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString();
        seen.name = model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString();
        {
            TestSupport::SqliteFile other(m_fx->dbPath());
            other.exec(QStringLiteral("BEGIN EXCLUSIVE"));
            QTest::mouseClick(m_form->PanelCard, Qt::LeftButton);
            other.exec(QStringLiteral("ROLLBACK"));
        }
        seen.status = m_form->StatusLine->text();
        seen.trouble = m_form->OfflineLine->text();
        seen.layout = layoutOf(*m_form);
        tearDown();
        return seen;
    }

private slots:
    void cleanup() { tearDown(); }

    void settingWinsThenTheFirstLocaleVariableSet()
    {
        QCOMPARE(TerminalLanguage::choose({}, {}, {}, {}), Language::Chinese);
        QCOMPARE(TerminalLanguage::choose({}, {}, {}, "C.UTF-8"), Language::Chinese);
        QCOMPARE(TerminalLanguage::choose({}, {}, {}, "zh_CN.UTF-8"), Language::Chinese);
        QCOMPARE(TerminalLanguage::choose({}, {}, {}, "en_GB.UTF-8"), Language::English);
        QCOMPARE(TerminalLanguage::choose({}, {}, {}, "en"), Language::English);
        QCOMPARE(TerminalLanguage::choose({}, {}, "en_US.UTF-8", "zh_CN.UTF-8"), Language::English);
        QCOMPARE(TerminalLanguage::choose({}, "C", "en_US.UTF-8", "en_US.UTF-8"), Language::Chinese);
        QCOMPARE(TerminalLanguage::choose({}, {}, {}, "eng"), Language::Chinese);
        QCOMPARE(TerminalLanguage::choose(QStringLiteral("en"), {}, {}, "zh_CN.UTF-8"), Language::English);
        QCOMPARE(TerminalLanguage::choose(QStringLiteral(" EN "), {}, {}, {}), Language::English);
        QCOMPARE(TerminalLanguage::choose(QStringLiteral("zh"), "en_US.UTF-8", {}, {}), Language::Chinese);
        // A value the terminal does not know leaves the choice to the locale.
        QCOMPARE(TerminalLanguage::choose(QStringLiteral("fr"), {}, {}, "en_US.UTF-8"), Language::English);
    }

    void theSettingIsReadFromTheTavelosKey()
    {
        TerminalFixture fx;
        QSettings store(SettingsStore::userStorePath(), QSettings::IniFormat);
        store.setValue(QStringLiteral("Software/Tavelo/language"), QStringLiteral("en"));
        store.sync();
        qputenv("LANG", "zh_CN.UTF-8");
        QCOMPARE(TerminalLanguage::chosen(), Language::English);
        store.setValue(QStringLiteral("Software/Tavelo/language"), QStringLiteral("zh"));
        store.sync();
        qputenv("LANG", "en_US.UTF-8");
        QCOMPARE(TerminalLanguage::chosen(), Language::Chinese);
        qunsetenv("LANG");
    }

    void englishSpeaksEveryTextAndMovesNothing()
    {
        const Seen chinese = lookAtTheWindow();
        QCOMPARE(chinese.title, QStringLiteral("【Tavelo】模拟考勤机"));
        QCOMPARE(chinese.button, QStringLiteral("电源关"));
        QCOMPARE(chinese.caption, QStringLiteral("读卡区"));
        QCOMPARE(chinese.number, QStringLiteral("员工编号"));
        QCOMPARE(chinese.name, QStringLiteral("姓名"));
        QCOMPARE(chinese.status, QStringLiteral("【0001 员工1】 2026-12-07 09:00 刷卡成功！"));
        QCOMPARE(chinese.trouble, QStringLiteral("数据库被其他程序锁定：1 条刷卡待写入"));

        QTranslator english;
        QVERIFY(english.load(TerminalLanguage::kEnglishTranslation));
        QVERIFY(QCoreApplication::installTranslator(&english));
        const Seen seen = lookAtTheWindow();
        QCoreApplication::removeTranslator(&english);

        QCOMPARE(seen.title, QStringLiteral("[Tavelo] Attendance Clock"));
        QCOMPARE(seen.button, QStringLiteral("Power off"));
        QCOMPARE(seen.caption, QStringLiteral("Card reader"));
        QCOMPARE(seen.number, QStringLiteral("Number"));
        QCOMPARE(seen.name, QStringLiteral("Name"));
        QCOMPARE(seen.status, QStringLiteral("[0001 员工1] 2026-12-07 09:00 swipe recorded!"));
        QCOMPARE(seen.trouble,
                 QStringLiteral("Another program holds the database locked: 1 swipes waiting to be written"));
        QCOMPARE(seen.layout, chinese.layout);
        QVERIFY(!seen.layout.isEmpty());

        // Every text of the red line has its translation: none is left Chinese.
        QVERIFY(QCoreApplication::installTranslator(&english));
        const QStringList lines = {
            TroubleText::serverState(true, 3, 2),
            TroubleText::serverState(false, 3, 0),
            TroubleText::listTrouble(true),
            TroubleText::listTrouble(false),
            TroubleText::storeTrouble(QStringLiteral("/tmp/store")),
            TroubleText::storeSwipeReason(QStringLiteral("x")),
            TroubleText::startTrouble(QStringLiteral("/nonexistent/kq.mdb"), Exception::Trouble::Unknown),
            TroubleText::alreadySwiped(QStringLiteral("1"), QStringLiteral("a"),
                                       QDateTime::currentDateTime()),
            TroubleText::recordedSwipe(QStringLiteral("1"), QStringLiteral("a"),
                                       QDateTime::currentDateTime()),
            TroubleText::failedSwipe(),
        };
        QCoreApplication::removeTranslator(&english);
        for (const QString& line : lines) {
            const bool latin =
                std::all_of(line.cbegin(), line.cend(), [](QChar c) { return c.unicode() < 0x2000; });
            QVERIFY2(latin, qPrintable(line));
        }
    }
};

TAVELO_GUI_TEST_MAIN(TestLanguage)
#include "test_language.moc"
