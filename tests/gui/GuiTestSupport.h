#pragma once

#include "app/MessageBox.h"
#include "app/QuorelMain.h"
#include "app/TerminalApplication.h"
#include "query/CommFunc.h"
#include "interchange/DevSchema.h"
#include "log/ErrMsgForm.h"
#include "support/ManualClock.h"
#include "platform/SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A private world for one window test: the settings store, the database folder and the
// error log all live in a temporary folder, and the clock is the test's.
class TerminalFixture
{
public:
    TerminalFixture()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           m_dir.filePath(QStringLiteral("config")));
        // No machine-wide settings behind the test's own.
        qputenv("XDG_CONFIG_DIRS", m_dir.filePath(QStringLiteral("system")).toUtf8());
        ErrMsgForm::instance().setLogFileName(logPath());
        QFile::remove(logPath());
        MessageBox::setRecording(true);
        MessageBox::clearShown();
    }

    QString dbFolder() const { return m_dir.filePath(QStringLiteral("db")); }
    QString dbPath() const { return dbFolder() + QStringLiteral("/kq.mdb"); }
    QString logPath() const { return m_dir.filePath(QStringLiteral("error.log")); }

    void pointSettingsAt(const QString& folder)
    {
        QSettings store(SettingsStore::userStorePath(), QSettings::IniFormat);
        store.setValue(QStringLiteral("Software/Microsoft/Windows/CurrentVersion/Kelvaro/mdb"), folder);
    }

    void createDatabase(const QList<DevSchema::Employee>& employees)
    {
        QDir().mkpath(dbFolder());
        QString error;
        QVERIFY2(DevSchema::createDatabase(dbPath(), employees, &error), qPrintable(error));
        pointSettingsAt(dbFolder());
    }

    QByteArray logContents() const
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<TQuorelMainForm> makeForm() { return std::make_unique<TQuorelMainForm>(m_clock); }

    ManualClock& clock() { return m_clock; }

private:
    QTemporaryDir m_dir;
    ManualClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0), Qt::UTC)};
};

// count employees numbered 0001, 0002, ... in that order.
inline QList<DevSchema::Employee> numbered(int count)
{
    QList<DevSchema::Employee> list;
    for (int i = 1; i <= count; ++i)
        list.append({QStringLiteral("%1").arg(i, 4, 10, QChar(u'0')), QStringLiteral("员工%1").arg(i),
                     QStringLiteral("01")});
    return list;
}

inline QList<DevSchema::Employee> employees(std::initializer_list<const char*> nums)
{
    QList<DevSchema::Employee> list;
    int i = 0;
    for (const char* num : nums)
        list.append({QString::fromUtf8(num), QStringLiteral("员工%1").arg(++i), QStringLiteral("01")});
    return list;
}

// Base of the window test classes: one fixture and one shown window per test function.
class TerminalTestBase : public QObject
{
protected:
    std::unique_ptr<TerminalFixture> m_fx;
    std::unique_ptr<TQuorelMainForm> m_form;

    // Shows the window on a database holding these employees, or on a folder without a
    // database when rows is empty and withDatabase is false.
    void open(const QList<DevSchema::Employee>& rows, bool withDatabase = true)
    {
        m_fx = std::make_unique<TerminalFixture>();
        if (withDatabase) {
            m_fx->createDatabase(rows);
        } else {
            QDir().mkpath(m_fx->dbFolder());
            m_fx->pointSettingsAt(m_fx->dbFolder());
        }
        m_form = m_fx->makeForm();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }

    void tearDown()
    {
        m_form.reset();
        m_fx.reset();
    }
};

// Runs a QtTest class inside the terminal's own application object, so that errors
// escaping handlers reach the error box exactly as in the program.
#define TAVELO_GUI_TEST_MAIN(TestClass)                                                                      \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        TerminalApplication app(argc, argv);                                                                 \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
