// kqdb outbox <target> [--store PATH]
//
// A terminal that cannot reach its server keeps swipes in the outbox of its local store
// (one file per server database in the user's state folder); this shows a site admin what
// waits there. kqdb forward sends it.

#include "KqdbCommand.h"
#include "OutboxArguments.h"

#include "attendance/LocalStore.h"
#include "platform/DateTimeText.h"
#include "platform/Exception.h"

#include <QFileInfo>

#include <limits>
#include <optional>

namespace {

const char kOutboxUsage[] = "outbox TARGET [--store PATH]\n"
                            "      lists the swipes a terminal of this user keeps for the target because\n"
                            "      the server did not confirm them yet, oldest first, then those the server\n"
                            "      refused, each with the server's reason; --store names the local store\n"
                            "      file instead";

int runOutbox(const QStringList& args)
{
    int exitCode = KqdbExit::kOk;
    const std::optional<OutboxArguments> parsed = OutboxArguments::parse(args, kOutboxUsage, &exitCode);
    if (!parsed)
        return exitCode;
    kqdbPrintLine(QStringLiteral("store: %1").arg(parsed->storePath));
    if (!QFileInfo::exists(parsed->storePath)) {
        kqdbPrintLine(QStringLiteral("0 waiting"));
        return KqdbExit::kOk;
    }
    try {
        // Only looking: a store of another user that may be read is shown, and nothing in
        // it is made, changed or moved.
        LocalStore store(parsed->storePath, LocalStore::Access::ReadOnly);
        const std::vector<StoredSwipe> waiting = store.oldest(std::numeric_limits<int>::max());
        for (const StoredSwipe& swipe : waiting)
            kqdbPrintLine(QStringLiteral("%1\t%2\t%3\t%4")
                              .arg(swipe.id)
                              .arg(swipe.num, swipe.name, DateTimeText::dateTime(swipe.instant(), u':')));
        kqdbPrintLine(QStringLiteral("%1 waiting").arg(waiting.size()));
        const std::vector<LocalStore::RefusedSwipe> refused = store.refused();
        for (const LocalStore::RefusedSwipe& kept : refused)
            kqdbPrintLine(QStringLiteral("%1\t%2\t%3\t%4\trefused: %5")
                              .arg(kept.swipe.id)
                              .arg(kept.swipe.num, kept.swipe.name,
                                   DateTimeText::dateTime(kept.swipe.instant(), u':'), kept.reason));
        if (!refused.empty())
            kqdbPrintLine(QStringLiteral("%1 refused by the server (kqdb forward --retry-refused sends them "
                                         "again once the cause is mended)")
                              .arg(refused.size()));
    } catch (const Exception& e) {
        kqdbPrintError(e.message());
        return KqdbExit::kFailed;
    }
    return KqdbExit::kOk;
}

const KqdbCommand::Registration kRegistration(50, "outbox", kOutboxUsage, runOutbox);

} // namespace
