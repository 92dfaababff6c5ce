#include "StoreDamageText.h"

QString storeDamageText(const LocalStore::Damage& damage)
{
    if (damage.record)
        return QStringLiteral(
                   "the record of swipes %1 was damaged; moved to %2 and written again from the store")
            .arg(damage.damaged, damage.movedTo);
    if (damage.remade)
        return QStringLiteral("the local store %1 was gone; made again from the record beside it (%2 waiting "
                              "swipes queued again, %3 confirmed ones kept)")
            .arg(damage.damaged)
            .arg(damage.requeued)
            .arg(damage.retained);
    return QStringLiteral(
               "the local store %1 was damaged or lost swipes; moved to %2 and made again from the "
               "record beside it (%3 waiting swipes queued again, %4 confirmed ones kept)")
        .arg(damage.damaged, damage.movedTo)
        .arg(damage.requeued)
        .arg(damage.retained);
}
