// kqdb forward <target> [--store PATH] [--retry-refused]
//
// Hands what waits in a terminal's outbox to the database now, as the terminal's own
// forwarder does in the background. Safe while the terminal runs: a swipe both send is
// recorded once, the second finding the first within its window.

#include "KqdbCommand.h"
#include "OutboxArguments.h"
#include "StoreDamageText.h"

#include "attendance/OutboxForwarder.h"
#include "platform/DateTimeText.h"
#include "platform/Exception.h"

#include <QFileInfo>

#include <optional>

namespace {

const char kForwardUsage[] = "forward TARGET [--store PATH] [--retry-refused]\n"
                             "      hands the waiting swipes to the target now, each at its own instant;\n"
                             "      one the database holds already within three minutes is dropped; one\n"
                             "      the server refuses for good is set aside (kqdb outbox lists it);\n"
                             "      --retry-refused sends those set aside again first;\n"
                             "      swipes confirmed by another server (before a failover) and kept\n"
                             "      for a while are checked first, and those this server lacks sent again;\n"
                             "      exit 0 when none is left waiting or refused, 1 otherwise";

int runForward(const QStringList& args)
{
    int exitCode = KqdbExit::kOk;
    const std::optional<OutboxArguments> parsed =
        OutboxArguments::parse(args, kForwardUsage, &exitCode, true);
    if (!parsed)
        return exitCode;
    if (!QFileInfo::exists(parsed->storePath)) {
        kqdbPrintLine(QStringLiteral("forwarded 0, already recorded 0, waiting 0, refused 0"));
        return KqdbExit::kOk;
    }
    int forwarded = 0;
    int alreadyRecorded = 0;
    int waiting = 0;
    int refused = 0;
    std::vector<StoredSwipe> resent;
    QString failure;
    try {
        OutboxForwarder forwarder(parsed->connectionString, parsed->storePath);
        // Damage found in the store or the record beside it is mended from the other one
        // before anything is sent; it is said all the same.
        const auto sayDamage = [&] {
            if (const std::optional<LocalStore::Damage> damage = forwarder.store().takeDamage())
                kqdbPrintError(storeDamageText(*damage));
        };
        sayDamage();
        forwarder.onForwarded = [&](const StoredSwipe&, const SwipeOutcome& outcome) {
            ++(outcome.kind == SwipeOutcome::Kind::Recorded ? forwarded : alreadyRecorded);
        };
        try {
            forwarder.connect();
            // Swipes this user's `kqdb swipe` (or terminal) had confirmed on another server
            // first, at their own instants: after a failover the new server may lack them.
            resent = forwarder.recheckRetained().resent;
            if (parsed->retryRefused)
                forwarder.retryRefused();
            forwarder.forwardAll();
        } catch (const Exception& e) {
            failure = e.message();
        }
        sayDamage();
        waiting = forwarder.store().waitingCount();
        refused = forwarder.store().refusedCount();
    } catch (const Exception& e) {
        kqdbPrintError(e.message());
        return KqdbExit::kFailed;
    }
    for (const StoredSwipe& swipe : resent)
        kqdbPrintLine(
            QStringLiteral("sent again: %1 %2 %3 (confirmed by another server, missing on this one)")
                .arg(swipe.num, swipe.name, DateTimeText::dateTime(swipe.instant())));
    kqdbPrintLine(QStringLiteral("forwarded %1, already recorded %2, waiting %3, refused %4")
                      .arg(forwarded)
                      .arg(alreadyRecorded)
                      .arg(waiting)
                      .arg(refused));
    if (!failure.isEmpty())
        kqdbPrintError(failure);
    if (refused > 0)
        kqdbPrintError(
            QStringLiteral("%1 swipes refused by the server are kept aside: kqdb outbox shows why; "
                           "once the cause is mended, kqdb forward --retry-refused sends them")
                .arg(refused));
    return waiting == 0 && refused == 0 && failure.isEmpty() ? KqdbExit::kOk : KqdbExit::kFailed;
}

const KqdbCommand::Registration kRegistration(51, "forward", kForwardUsage, runForward);

} // namespace
