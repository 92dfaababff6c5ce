#include "app/TroubleLine.h"

#include "attendance/AttendanceTerminal.h"

const QColor TroubleLine::kTroubleColour(160, 0, 0);
const QColor TroubleLine::kSendingColour(176, 96, 0);

TroubleLine::TroubleLine(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
    // A path in a start failure can take a second line.
    setWordWrap(true);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

QString TroubleLine::textFor(bool offline, int waiting)
{
    return textFor(offline, waiting, 0);
}

QString TroubleLine::textFor(bool offline, int waiting, int refused)
{
    return AttendanceTerminal::stateText(offline, waiting, refused);
}

void TroubleLine::showState(bool offline, int waiting)
{
    m_offline = offline;
    m_waiting = waiting;
    refresh();
}

void TroubleLine::setLastingTrouble(const QString& text)
{
    m_lasting = text;
    refresh();
}

void TroubleLine::setSwipeTrouble(const QString& text)
{
    m_swipe = text;
    refresh();
}

void TroubleLine::showRefused(int refused)
{
    m_refused = refused;
    refresh();
}

void TroubleLine::refresh()
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
    colours.setColor(QPalette::Window, red ? kTroubleColour : kSendingColour);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setText(lines.join(u'\n'));
    show();
    // Visible at once, also while the swipe that brought it is still running.
    repaint();
}
