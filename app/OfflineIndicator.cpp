#include "app/OfflineIndicator.h"

#include "attendance/AttendanceTerminal.h"

const QColor OfflineIndicator::kOfflineColour(160, 0, 0);
const QColor OfflineIndicator::kSendingColour(176, 96, 0);

OfflineIndicator::OfflineIndicator(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
    // A path in a start failure can take a second line.
    setWordWrap(true);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

QString OfflineIndicator::textFor(bool offline, int waiting)
{
    return textFor(offline, waiting, 0);
}

QString OfflineIndicator::textFor(bool offline, int waiting, int refused)
{
    return AttendanceTerminal::stateText(offline, waiting, refused);
}

void OfflineIndicator::showState(bool offline, int waiting)
{
    m_offline = offline;
    m_waiting = waiting;
    refresh();
}

void OfflineIndicator::setLastingTrouble(const QString& text)
{
    m_lasting = text;
    refresh();
}

void OfflineIndicator::setSwipeTrouble(const QString& text)
{
    m_swipe = text;
    refresh();
}

void OfflineIndicator::showRefused(int refused)
{
    m_refused = refused;
    refresh();
}

void OfflineIndicator::refresh()
{
    QStringList lines;
    for (const QString& line : {m_swipe, m_lasting, textFor(m_offline, m_waiting, m_refused)})
        if (!line.isEmpty())
            lines.append(line);
    if (lines.isEmpty()) {
        hide();
        clear();
        return;
    }
    const bool red = !m_swipe.isEmpty() || !m_lasting.isEmpty() || m_offline || m_refused > 0;
    QPalette colours = palette();
    colours.setColor(QPalette::Window, red ? kOfflineColour : kSendingColour);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setText(lines.join(u'\n'));
    show();
    // Visible at once, also while the swipe that brought it is still running.
    repaint();
}
