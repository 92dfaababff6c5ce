#include "attendance/CardSwipe.h"

#include "attendance/ServerIdentity.h"
#include "attendance/ServerSwipe.h"
#include "attendance/ServerSwipeBatch.h"
#include "attendance/StoredSwipe.h"
#include "attendance/SwipeWindow.h"
#include "attendance/TroubleText.h"
#include "platform/Clock.h"
#include "platform/DateTimeText.h"
#include "platform/QueryStateError.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/DbBackend.h"
#include "query/ServerFeatures.h"
#include "query/Statements.h"
#include "query/Transaction.h"

namespace {

void setStatement(AdoQuery& query, const QString& text)
{
    query.close();
    query.sqlClear();
    query.sqlAdd(text);
}

bool hasCurrentEmployee(const AdoQuery* employees)
{
    return employees && employees->isOpen() && !employees->isEmpty() && employees->recNo() >= 0;
}

void closeQuietly(AdoQuery& query)
{
    try {
        query.close();
    } catch (...) {
    }
}

SwipeOutcome alreadyRecordedOutcome(AdoQuery& recordQry)
{
    const DateTimeValue instant =
        recordQry.fieldAsDateTime(Statements::kD) + recordQry.fieldAsDateTime(Statements::kT);
    return {SwipeOutcome::Kind::AlreadyRecorded,
            TroubleText::alreadySwiped(recordQry.fieldAsString(Statements::kNum),
                                       recordQry.fieldAsString(Statements::kName), instant.toDateTime()),
            {},
            recordQry.fieldAsString(Statements::kNum),
            recordQry.fieldAsString(Statements::kName),
            instant.toDateTime()};
}

// The duplicate test for a number, within the window between the two bounds.
void openDuplicateTest(AdoQuery& recordQry, const QString& num, const QDateTime& from, const QDateTime& to)
{
    setStatement(recordQry, SwipeWindow::duplicateTest());
    recordQry.setParameter(QStringLiteral("num"), num);
    recordQry.setParameter(QStringLiteral("d1"), DateTimeText::dateTime(from));
    recordQry.setParameter(QStringLiteral("d2"), DateTimeText::dateTime(to));
    recordQry.open();
}

SwipeOutcome alreadyRecorded(AdoQuery& recordQry, Transaction& transaction)
{
    SwipeOutcome outcome = alreadyRecordedOutcome(recordQry);
    recordQry.close();
    transaction.commit();
    return outcome;
}

void insertRecord(AdoQuery& recordQry, const QString& num, const QString& name, const QDate& date,
                  const QTime& time, const QString& opdate)
{
    setStatement(recordQry, Statements::kRecordInsert);
    recordQry.setParameter(QStringLiteral("num"), num);
    recordQry.setParameter(QStringLiteral("name"), name);
    recordQry.setParameter(QStringLiteral("d"), DateTimeText::date(date));
    recordQry.setParameter(QStringLiteral("t"), DateTimeText::time(time));
    recordQry.setParameter(QStringLiteral("opdate"), opdate);
    recordQry.execSql();
}

AdoConnection& connectionOf(AdoQuery& recordQry)
{
    AdoConnection* connection = recordQry.connection();
    if (!connection)
        throw QueryStateError(QStringLiteral("%1: missing connection").arg(recordQry.name()));
    return *connection;
}

// Which server is about to commit the row, asked inside its transaction (so also through a
// pooler it is the server that holds the row); empty for a database file.
QString committingServer(AdoQuery& recordQry)
{
    ServerFeatures* server = connectionOf(recordQry).backend().serverFeatures();
    return server ? ServerIdentity::read(*server) : QString();
}

// On a server the whole swipe (the lock, the test, the insert, the commit) goes in one
// round trip; a file takes the steps one by one through the record query.
ServerFeatures* serverOf(AdoQuery& recordQry)
{
    return connectionOf(recordQry).backend().serverFeatures();
}

SwipeOutcome swipe(AdoQuery& employees, AdoQuery& recordQry, const Clock& clock)
{
    // A row without a number would be an attendance record nobody can be matched to; the
    // operator is told rather than left with the previous employee's success.
    if (employees.fieldAsString(Statements::kNum).isEmpty())
        throw QueryStateError(QStringLiteral("The current employee has no employee number."),
                              QueryStateError::Trouble::NoNumber);

    if (ServerFeatures* server = serverOf(recordQry)) {
        const QDateTime now = clock.now();
        StoredSwipe stored;
        stored.num = employees.fieldAsString(Statements::kNum);
        stored.name = employees.fieldAsString(Statements::kName);
        stored.date = now.date();
        stored.time = QTime(now.time().hour(), now.time().minute(), now.time().second());
        stored.opdate = Statements::kFixedOpDate;
        return ServerSwipe::record(*server, stored);
    }

    // The record must land in the database that is there now, not in a file that was
    // replaced under the terminal since the list was loaded.
    connectionOf(recordQry).revalidate();

    // Terminals sharing one database could otherwise both find no record and both insert:
    // the lock for this employee is taken before the test and held until the insert is
    // committed.
    Transaction transaction(connectionOf(recordQry), employees.fieldAsString(Statements::kNum));

    // The clock is read for each bound, as for every other step of the swipe.
    const QDateTime from = SwipeWindow::from(clock.now());
    const QDateTime to = SwipeWindow::to(clock.now());
    openDuplicateTest(recordQry, employees.fieldAsString(Statements::kNum), from, to);
    if (!recordQry.isEmpty())
        return alreadyRecorded(recordQry, transaction);

    const QString num = employees.fieldAsString(Statements::kNum);
    const QString name = employees.fieldAsString(Statements::kName);
    const QDate date = clock.now().date();
    const QTime time = clock.now().time();
    insertRecord(recordQry, num, name, date, time, Statements::kFixedOpDate);
    const QString server = committingServer(recordQry);
    // Committed before the text is composed: a failure from here on keeps the record.
    transaction.commit();

    SwipeOutcome outcome{SwipeOutcome::Kind::Recorded,
                         TroubleText::recordedSwipe(employees.fieldAsString(Statements::kNum),
                                                    employees.fieldAsString(Statements::kName), clock.now()),
                         {},
                         num,
                         name,
                         QDateTime(date, QTime(time.hour(), time.minute(), time.second()), Qt::UTC)};
    outcome.server = server;
    return outcome;
}

SwipeOutcome forwardStored(const StoredSwipe& stored, AdoQuery& recordQry)
{
    if (ServerFeatures* server = serverOf(recordQry))
        return ServerSwipe::record(*server, stored);
    // The same lock as a live swipe of this employee on any terminal.
    Transaction transaction(connectionOf(recordQry), stored.num);

    openDuplicateTest(recordQry, stored.num, SwipeWindow::from(stored.instant()),
                      SwipeWindow::to(stored.instant()));
    if (!recordQry.isEmpty())
        return alreadyRecorded(recordQry, transaction);

    insertRecord(recordQry, stored.num, stored.name, stored.date, stored.time, stored.opdate);
    const QString server = committingServer(recordQry);
    transaction.commit();
    SwipeOutcome outcome{SwipeOutcome::Kind::Recorded,
                         TroubleText::recordedSwipe(stored.num, stored.name, stored.instant()),
                         {},
                         stored.num,
                         stored.name,
                         stored.instant()};
    outcome.server = server;
    return outcome;
}

} // namespace

SwipeOutcome CardSwipe::attempt(AdoQuery* employees, AdoQuery& recordQry, const Clock& clock)
{
    SwipeOutcome outcome;
    try {
        if (hasCurrentEmployee(employees))
            outcome = swipe(*employees, recordQry, clock);
    } catch (...) {
        closeQuietly(recordQry);
        throw;
    }
    closeQuietly(recordQry);
    return outcome;
}

SwipeOutcome CardSwipe::run(AdoQuery* employees, AdoQuery& recordQry, const Clock& clock)
{
    try {
        return attempt(employees, recordQry, clock);
    } catch (...) {
        return failed(employees, clock, std::current_exception());
    }
}

SwipeOutcome CardSwipe::failed(AdoQuery* employees, const Clock& clock, const std::exception_ptr& failure)
{
    // Not logged: the operator sees it at once and swipes again.
    SwipeOutcome outcome;
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        outcome.errorMessage = QString::fromUtf8(e.what());
    } catch (...) {
    }
    if (outcome.errorMessage.isEmpty())
        outcome.errorMessage = QStringLiteral("unknown error");
    outcome.reason = TroubleText::swipeReason(failure);
    // The status line names the employee who swiped, so that the previous one's success
    // does not stay standing; a failure that leaves nothing to name leaves no text.
    try {
        if (hasCurrentEmployee(employees)) {
            outcome.num = employees->fieldAsString(Statements::kNum);
            outcome.name = employees->fieldAsString(Statements::kName);
            outcome.instant = clock.now();
            outcome.failedText = TroubleText::failedSwipe(outcome.num, outcome.name, outcome.instant);
        }
    } catch (...) {
        outcome.failedText.clear();
    }
    return outcome;
}

std::optional<SwipeOutcome> CardSwipe::recordedWithin(AdoQuery* employees, AdoQuery& recordQry,
                                                      const Clock& clock)
{
    std::optional<SwipeOutcome> recorded;
    try {
        if (hasCurrentEmployee(employees) && !employees->fieldAsString(Statements::kNum).isEmpty()) {
            const QDateTime from = SwipeWindow::from(clock.now());
            const QDateTime to = SwipeWindow::to(clock.now());
            openDuplicateTest(recordQry, employees->fieldAsString(Statements::kNum), from, to);
            if (!recordQry.isEmpty())
                recorded = alreadyRecordedOutcome(recordQry);
        }
    } catch (...) {
        recorded.reset();
    }
    closeQuietly(recordQry);
    return recorded;
}

SwipeOutcome CardSwipe::forward(const StoredSwipe& swipe, AdoQuery& recordQry)
{
    SwipeOutcome outcome;
    try {
        outcome = forwardStored(swipe, recordQry);
    } catch (...) {
        closeQuietly(recordQry);
        throw;
    }
    closeQuietly(recordQry);
    return outcome;
}
