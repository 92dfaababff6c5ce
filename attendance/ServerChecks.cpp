#include "attendance/ServerChecks.h"

#include "log/ErrMsg.h"
#include "platform/Clock.h"
#include "platform/DateTimeText.h"
#include "platform/Exception.h"
#include "platform/QueryStateError.h"
#include "query/AdoConnection.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"
#include "query/Statements.h"

#include <QTimeZone>

#include <optional>

const QString ServerChecks::kServerClockStatement = QStringLiteral("SELECT now()");

namespace {

// A time in its own zone, as a person there reads it: "2026-03-02 08:30:00 Asia/Shanghai
// (UTC+08:00)".
QString zonedText(const QDateTime& at, const QTimeZone& zone)
{
    const int offset = at.offsetFromUtc();
    const QString sign = offset < 0 ? QStringLiteral("-") : QStringLiteral("+");
    const QString utc = QStringLiteral("UTC%1%2:%3")
                            .arg(sign)
                            .arg(qAbs(offset) / 3600, 2, 10, QChar(u'0'))
                            .arg(qAbs(offset) % 3600 / 60, 2, 10, QChar(u'0'));
    const QString name = QString::fromUtf8(zone.id());
    if (name.isEmpty() || name.startsWith(u"UTC"))
        return QStringLiteral("%1 %2").arg(DateTimeText::dateTime(at), utc);
    return QStringLiteral("%1 %2 (%3)").arg(DateTimeText::dateTime(at), name, utc);
}

} // namespace

bool ServerChecks::CheckServerClock(AdoConnection* connection, const Clock& clock)
{
    if (!connection)
        return true;
    std::optional<QDateTime> server;
    try {
        server = connection->serverClock();
    } catch (const Exception&) {
        return true;
    }
    if (!server)
        return true;
    // Instants, not wall clocks: a server in another time zone (a cloud database on UTC,
    // a head office abroad) is not a drifting clock.
    const QDateTime wall = clock.now();
    const QTimeZone zone = clock.timeZone();
    const QDateTime terminal(wall.date(), wall.time(), zone);
    const qint64 difference = server->secsTo(terminal);
    if (qAbs(difference) <= kClockToleranceSecs)
        return true;
    const QueryStateError error(
        QStringLiteral("The terminal's clock shows %1 but the database server's shows %2 "
                       "(%3 seconds apart); swipes are recorded with the terminal's time.")
            .arg(zonedText(terminal, zone), zonedText(*server, server->timeZone()))
            .arg(qAbs(difference)));
    ErrMsg::LogFailure(kServerClockStatement, error);
    return false;
}

const QString ServerChecks::kServerIndexStatement = QStringLiteral("SELECT indexes of sgdjb");

bool ServerChecks::CheckServerIndex(AdoConnection* connection)
{
    if (!connection)
        return true;
    try {
        ServerFeatures* server = connection->backend().serverFeatures();
        if (!server || server->hasDuplicateTestIndex())
            return true;
    } catch (const Exception&) {
        return true;
    }
    const QueryStateError error(
        QStringLiteral("Table sgdjb on the server has no index for the duplicate test: every swipe reads "
                       "the whole table, slower as it grows. As the table's owner, run: %1")
            .arg(Statements::kDuplicateTestIndex));
    ErrMsg::LogFailure(kServerIndexStatement, error);
    return false;
}
