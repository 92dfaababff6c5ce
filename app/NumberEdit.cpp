#include "app/NumberEdit.h"

#include "platform/VirtualKey.h"

#include <QFocusEvent>
#include <QKeyEvent>

NumberEdit::NumberEdit(QWidget* parent) : QLineEdit(parent) {}

void NumberEdit::keyPressEvent(QKeyEvent* event)
{
    if (m_keyDown) {
        quint16 key = virtualKeyOf(event);
        m_keyDown(this, key, event->modifiers());
    }
    // Navigation keys belong to the list: the handler has moved the focus there, and
    // the box does not move its caret for them. Page Up/Down do nothing here.
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        event->accept();
        return;
    default:
        break;
    }
    QLineEdit::keyPressEvent(event);
}

void NumberEdit::keyReleaseEvent(QKeyEvent* event)
{
    QLineEdit::keyReleaseEvent(event);
    if (m_keyUp && !event->isAutoRepeat()) {
        quint16 key = virtualKeyOf(event);
        m_keyUp(this, key, event->modifiers());
    }
}

void NumberEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (event->reason() != Qt::MouseFocusReason && event->reason() != Qt::PopupFocusReason &&
        event->reason() != Qt::ActiveWindowFocusReason)
        selectAll();
}
