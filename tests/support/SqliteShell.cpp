#include "support/SqliteShell.h"

#include <QDeadlineTimer>

#include <gtest/gtest.h>

namespace TestSupport {

SqliteShell::SqliteShell(const QString& path)
{
    m_process.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), path});
    if (!m_process.waitForStarted(10000))
        ADD_FAILURE() << "sqlite3 did not start: " << m_process.errorString().toStdString();
}

SqliteShell::~SqliteShell()
{
    quit();
}

QByteArray SqliteShell::run(const QString& sql, int timeoutMs)
{
    // A line the shell prints only after everything before it has run.
    const QByteArray marker = "-- done " + QByteArray::number(++m_marker) + " --";
    m_process.write(sql.toUtf8() + "\n.print '" + marker + "'\n");
    QByteArray out;
    const QDeadlineTimer deadline(timeoutMs);
    while (!out.contains(marker + '\n')) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            ADD_FAILURE() << "sqlite3 did not finish \"" << sql.toStdString()
                          << "\" in time; stderr: " << m_process.readAllStandardError().constData();
            return out;
        }
        m_process.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 100)));
        out += m_process.readAllStandardOutput();
    }
    m_error = m_process.readAllStandardError();
    out.truncate(out.indexOf(marker));
    return out;
}

void SqliteShell::quit()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write(".quit\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

} // namespace TestSupport
