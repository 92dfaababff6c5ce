#include "attendance/RecentSwipes.h"

#include "attendance/SwipeWindow.h"

void RecentSwipes::add(const SwipeOutcome& outcome)
{
    if (outcome.kind == SwipeOutcome::Kind::Nothing || !outcome.instant.isValid())
        return;
    std::lock_guard lock(m_mutex);
    m_rows.push_back(outcome);
    if (m_rows.size() > kCapacity)
        m_rows.pop_front();
}

std::optional<SwipeOutcome> RecentSwipes::within(const QString& num, const QDateTime& from,
                                                 const QDateTime& to) const
{
    std::lock_guard lock(m_mutex);
    for (const SwipeOutcome& row : m_rows) {
        if (row.num == num && SwipeWindow::holds(row.instant, from, to))
            return row;
    }
    return std::nullopt;
}
