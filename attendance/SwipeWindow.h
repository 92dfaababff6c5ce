#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

// The duplicate rule's window: an employee who has a record strictly within kSeconds
// either side of a swipe's instant is not recorded again. Every place that applies the
// rule (the file's and the server's statement, the server's batch, the local store's
// outbox, the rows a terminal remembers) takes its bounds and its comparison from here,
// so that a site asking for another length changes this file and nothing else.
class SwipeWindow
{
public:
    // Seconds on either side of the instant.
    static constexpr int kSeconds = 3 * 60;
    // Whether a record exactly kSeconds away counts as within: it does not, so that a
    // swipe three minutes after the last one is recorded.
    static constexpr bool kBoundsHeld = false;

    // The window around a swipe's instant.
    static QDateTime from(const QDateTime& instant) { return instant.addSecs(-kSeconds); }
    static QDateTime to(const QDateTime& instant) { return instant.addSecs(kSeconds); }

    // Whether a record at `candidate` lies within the window [from, to] as the rule reads
    // its bounds.
    static bool holds(const QDateTime& candidate, const QDateTime& from, const QDateTime& to)
    {
        if constexpr (kBoundsHeld)
            return candidate >= from && candidate <= to;
        else
            return candidate > from && candidate < to;
    }

    // The same test on instants counted in whole seconds from any one origin, for code that
    // compares many: whether a record at `candidate` lies within the window around `instant`.
    static bool holdsSeconds(qint64 candidate, qint64 instant)
    {
        if constexpr (kBoundsHeld)
            return candidate >= instant - kSeconds && candidate <= instant + kSeconds;
        else
            return candidate > instant - kSeconds && candidate < instant + kSeconds;
    }

    // The same test in SQL: `instant` is the expression of a row's instant, `from` and `to`
    // the placeholders or expressions of the bounds ("(D+T)>:d1 AND (D+T)<:d2").
    static QString sqlHolds(QStringView instant, QStringView from, QStringView to)
    {
        const QStringView above = kBoundsHeld ? u">=" : u">";
        const QStringView below = kBoundsHeld ? u"<=" : u"<";
        QString text;
        text.append(instant).append(above).append(from).append(QStringView(u" AND "));
        return text.append(instant).append(below).append(to);
    }

    // The duplicate test a file and a server run through the query layer, with the
    // parameters :num, :d1 (from) and :d2 (to). Byte for byte as the attendance software's
    // peers send it, trailing blank included.
    static const QString& duplicateTest()
    {
        static const QString text =
            QStringLiteral("SELECT num,name,D,T, opdate FROM sgdjb WHERE num=:num AND (") +
            sqlHolds(u"(D+T)", u":d1", u":d2") + QStringLiteral(") ");
        return text;
    }
};
