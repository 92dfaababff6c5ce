#pragma once

#include "app/MessageBox.h"
#include "app/QuorelMain.h"
#include "app/TerminalApplication.h"
#include "db/CommFunc.h"
#include "db/DevSchema.h"
#include "log/ErrMsgForm.h"
#include "platform/ManualClock.h"
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
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("config")));
        ErrMsgForm::instance().setLogFileName(logPath());
        QFile::remove(logPath());
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

inline QList<DevSchema::Employee> employees(std::initializer_list<const char*> nums)
{
    QList<DevSchema::Employee> list;
    int i = 0;
    for (const char* num : nums)
        list.append({QString::fromUtf8(num), QStringLiteral("员工%1").arg(++i), QStringLiteral("01")});
    return list;
}

// Runs a QtTest class inside the terminal's own application object, so that errors
// escaping handlers reach the error box exactly as in the program.
#define TAVELO_GUI_TEST_MAIN(TestClass)                                                                       \
    int main(int argc, char** argv)                                                                           \
    {                                                                                                         \
        TerminalApplication app(argc, argv);                                                                  \
        TestClass test;                                                                                       \
        return QTest::qExec(&test, argc, argv);                                                               \
    }
