#include "support/TestSupport.h"

#include "interchange/DevSchema.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <QTimeZone>

#include <stdexcept>

namespace TestSupport {

QString schemaSql()
{
    return DevSchema::ddl().join(u'\n');
}

QString jetConnectionString(const QString& path)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Mode=Read|Write;"
                          "Persist Security Info=False")
        .arg(path);
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file");
}

qint64 wallSeconds(const QString& text)
{
    return clockAt(text.toLatin1().constData()).toSecsSinceEpoch();
}

QDateTime clockAt(const char* text)
{
    // The clock's readings are wall-clock values; UTC keeps them free of the machine's zone.
    const QDateTime dt =
        QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return QDateTime(dt.date(), dt.time(), QTimeZone::utc());
}

bool waitUntil(const std::function<bool()>& done, int ms, int pollMs)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(static_cast<unsigned long>(pollMs));
    }
    return true;
}

bool waitWithEvents(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    for (;;) {
        QCoreApplication::processEvents();
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}

void coreApplication()
{
    static int argc = 1;
    static char name[] = "tavelo-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

} // namespace TestSupport
