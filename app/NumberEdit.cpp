#include "app/NumberEdit.h"

#include "platform/VirtualKey.h"

#include <QFocusEvent>
#include <QKeyEvent>

#include <limits>

namespace {

// The physical key where the platform says which one it is: the press and the release of
// one key may carry different key codes when a modifier changes in between (Shift+1).
quint32 physicalKey(const QKeyEvent* event)
{
    return event->nativeScanCode() != 0 ? event->nativeScanCode() : quint32(event->key()) | 0x80000000u;
}

} // namespace

NumberEdit::NumberEdit(QWidget* parent) : QLineEdit(parent)
{
    setMaxLength(std::numeric_limits<int>::max());
}

void NumberEdit::keyPressEvent(QKeyEvent* event)
{
    m_enteredByTab = false;
    m_pressed.insert(physicalKey(event));
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
    if (event->isAutoRepeat())
        return;
    // A release whose press went to another window (the Enter that closed a message box)
    // is not the operator typing into the box; searching on it could reopen the very box
    // the operator just closed. The Tab that moved the focus here is the box's own: its
    // release searches again with the text it selected.
    const bool isTab = event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
    const bool tabIntoBox = m_enteredByTab && isTab;
    if (isTab)
        m_enteredByTab = false;
    if (!m_pressed.remove(physicalKey(event)) && !tabIntoBox)
        return;
    if (m_keyUp) {
        quint16 key = virtualKeyOf(event);
        m_keyUp(this, key, event->modifiers());
    }
}

void NumberEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    m_enteredByTab = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (event->reason() != Qt::MouseFocusReason && event->reason() != Qt::PopupFocusReason &&
        event->reason() != Qt::ActiveWindowFocusReason)
        selectAll();
}

void NumberEdit::focusOutEvent(QFocusEvent* event)
{
    // Releases that arrive after the focus comes back belong to presses made elsewhere.
    m_pressed.clear();
    m_enteredByTab = false;
    QLineEdit::focusOutEvent(event);
}
