#pragma once

#include "app/KeyHandler.h"

#include <QLineEdit>
#include <QSet>

// The number box, without a length limit. Focus from the keyboard selects the whole text
// so the next digit replaces it; a mouse click only places the caret. Key presses go to
// the window's key handler before the box edits its text; the release of a key whose press
// the box received, or of the Tab that moved the focus into it, runs the release handler.
class NumberEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit NumberEdit(QWidget* parent = nullptr);

    void setKeyDownHandler(KeyHandler handler) { m_keyDown = std::move(handler); }
    void setKeyUpHandler(KeyHandler handler) { m_keyUp = std::move(handler); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    KeyHandler m_keyDown;
    KeyHandler m_keyUp;
    // Keys pressed while the box had the focus and not yet released.
    QSet<quint32> m_pressed;
    // The focus came by Tab or Shift+Tab and that key has not been released yet.
    bool m_enteredByTab = false;
};
