// Which database the window shows: the command line's, else the settings' "database"
// value, else kq.mdb in the configured folder.
#include "GuiTestSupport.h"

#include "app/EmployeeGrid.h"
#include "app/EmployeeGridModel.h"
#include "query/AdoQuery.h"
#include "query/DatabaseTarget.h"

class TestDatabaseChoice : public QObject
{
    Q_OBJECT

private:
    // The numbers the list shows, top to bottom.
    static QStringList shownNumbers(TQuorelMainForm& form)
    {
        QStringList numbers;
        if (!form.YgQry->isOpen())
            return numbers;
        const auto* model = form.DBGridYg->gridModel();
        for (int row = 0; row < model->rowCount(); ++row)
            numbers.append(model->index(row, 0).data().toString());
        return numbers;
    }

    static QString otherDatabase(TerminalFixture& fx, const QString& name,
                                 const QList<DevSchema::Employee>& rows)
    {
        const QString path = QFileInfo(fx.logPath()).absolutePath() + u'/' + name;
        QString error;
        if (!DevSchema::createDatabase(path, rows, &error))
            qWarning() << error;
        return path;
    }

    static void setDatabaseValue(const QString& value)
    {
        QSettings store(SettingsStore::userStorePath(), QSettings::IniFormat);
        store.setValue(QStringLiteral("Software/Tavelo/database"), value);
    }

private slots:
    void noTargetShowsTheConfiguredFolder()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101", "0102"}));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(shownNumbers(*form), QStringList({"0101", "0102"}));
    }

    void databaseValueWinsOverTheFolder()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        setDatabaseValue(otherDatabase(fx, QStringLiteral("other;1.mdb"), employees({"0201", "0202"})));
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(shownNumbers(*form), QStringList({"0201", "0202"}));
        QVERIFY(fx.logContents().isEmpty());
    }

    void optionWinsOverTheDatabaseValue()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        setDatabaseValue(otherDatabase(fx, QStringLiteral("setting.mdb"), employees({"0201"})));
        const QString option =
            otherDatabase(fx, QStringLiteral("option.mdb"), employees({"0301", "0302", "0303"}));
        auto form = fx.makeForm();
        form->setDatabaseOption(DatabaseTarget::parse(option));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(shownNumbers(*form), QStringList({"0301", "0302", "0303"}));
    }

    void unreadableServerValueIsReportedWithoutItsPassword()
    {
        TerminalFixture fx;
        fx.createDatabase(employees({"0101"}));
        setDatabaseValue(QStringLiteral("host=db.example password=S3cr3t pw"));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        auto form = fx.makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(form->isVisible());
        QCOMPARE(shownNumbers(*form), QStringList());
        QCOMPARE(MessageBox::shown().size(), size_t(1));
        const QString text = MessageBox::shown().front().text;
        QVERIFY2(text.contains(QStringLiteral("cannot be read")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("S3cr3t")));
        QVERIFY(!fx.logContents().contains("S3cr3t"));
    }
};

TAVELO_GUI_TEST_MAIN(TestDatabaseChoice)
#include "test_database_choice.moc"
