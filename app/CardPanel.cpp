#include "app/CardPanel.h"

#include "controls/SystemColours.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

CardPanel::CardPanel(QWidget* parent) : QFrame(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void CardPanel::setCaption(const QString& caption)
{
    m_caption = caption;
    update();
}

bool CardPanel::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (m_hint.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), m_hint, this, rect(), kHintShowMSecs);
        return true;
    }
    return QFrame::event(event);
}

void CardPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, palette().color(QPalette::Window));
    // A raised bevel one pixel wide: highlight along the top and left, shadow along the
    // bottom and right, in the same system colours as the clock's bevels.
    painter.setPen(SystemColours::kButtonHighlight);
    painter.drawLine(area.topLeft(), area.topRight());
    painter.drawLine(area.topLeft(), area.bottomLeft());
    painter.setPen(SystemColours::kButtonShadow);
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.topRight(), area.bottomRight());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(area.adjusted(1, 1, -1, -1), Qt::AlignCenter, m_caption);
}

void CardPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    QFrame::mousePressEvent(event);
}

void CardPanel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasPressed = m_pressed && event->button() == Qt::LeftButton;
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    if (wasPressed && rect().contains(event->position().toPoint()))
        emit clicked();
    QFrame::mouseReleaseEvent(event);
}

void CardPanel::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click starts no click of its own.
    m_pressed = false;
    event->accept();
}
