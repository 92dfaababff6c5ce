#include "attendance/OutboxSwipe.h"

#include "attendance/LocalStore.h"
#include "attendance/RecentSwipes.h"
#include "attendance/SwipeWindow.h"
#include "attendance/TroubleText.h"
#include "platform/Clock.h"
#include "query/AdoQuery.h"
#include "query/Statements.h"

namespace {

// The window bounds go to the server as "yyyy-mm-dd hh:nn:ss": whole seconds.
QDateTime wholeSeconds(const QDateTime& value)
{
    const QTime time = value.time();
    return QDateTime(value.date(), QTime(time.hour(), time.minute(), time.second()), Qt::UTC);
}

SwipeOutcome alreadyRecorded(const QString& num, const QString& name, const QDateTime& instant)
{
    SwipeOutcome outcome;
    outcome.kind = SwipeOutcome::Kind::AlreadyRecorded;
    outcome.statusText = TroubleText::alreadySwiped(num, name, instant);
    outcome.num = num;
    outcome.name = name;
    outcome.instant = instant;
    return outcome;
}

} // namespace

SwipeOutcome OutboxSwipe::run(AdoQuery* employees, LocalStore& store, const Clock& clock,
                              const RecentSwipes* recent)
{
    if (!employees || !employees->isOpen() || employees->isEmpty() || employees->recNo() < 0)
        return {};
    const QString num = employees->fieldAsString(Statements::kNum);
    if (num.isEmpty())
        return {};

    const QDateTime from = wholeSeconds(SwipeWindow::from(clock.now()));
    const QDateTime to = wholeSeconds(SwipeWindow::to(clock.now()));

    LocalStore::WriteTransaction transaction(store);
    if (recent) {
        if (const auto known = recent->within(num, from, to))
            return alreadyRecorded(known->num, known->name, known->instant);
    }
    if (const auto waiting = store.waitingWithin(num, from, to))
        return alreadyRecorded(waiting->num, waiting->name, waiting->instant());

    StoredSwipe swipe;
    swipe.num = num;
    swipe.name = employees->fieldAsString(Statements::kName);
    swipe.date = clock.now().date();
    const QTime time = clock.now().time();
    swipe.time = QTime(time.hour(), time.minute(), time.second());
    swipe.opdate = Statements::kFixedOpDate;
    swipe.id = store.enqueue(swipe);
    // Synced here: from now on the swipe survives a crash and is only waiting to be sent.
    transaction.commit();

    return {SwipeOutcome::Kind::Recorded,
            TroubleText::recordedSwipe(employees->fieldAsString(Statements::kNum),
                                       employees->fieldAsString(Statements::kName), clock.now()),
            {},
            swipe.num,
            swipe.name,
            swipe.instant()};
}
