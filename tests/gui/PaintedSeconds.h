#pragma once

#include "controls/RxClock.h"

#include <QEvent>
#include <QList>
#include <QObject>
#include <QRegularExpression>

// The seconds the clock control has drawn, in order.
class PaintedSeconds : public QObject
{
public:
    explicit PaintedSeconds(RxClock* clock) : m_clock(clock) { clock->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            static const QRegularExpression form(QStringLiteral("(\\d+)\\D(\\d\\d)\\D(\\d\\d)"));
            const QRegularExpressionMatch m = form.match(m_clock->shownText());
            if (m.hasMatch()) {
                const int second =
                    m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt();
                if (m_seconds.isEmpty() || m_seconds.last() != second)
                    m_seconds.append(second);
            }
        }
        return false;
    }
    QList<int> seconds() const { return m_seconds; }

private:
    RxClock* m_clock;
    QList<int> m_seconds;
};
