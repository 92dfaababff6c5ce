#pragma once

#include "app/KeyHandler.h"

#include <QLineEdit>

// The number box. Focus from the keyboard selects the whole text so the next digit
// replaces it; a mouse click only places the caret. Key presses go to the window's key
// handler before the box edits its text; every key release runs the release handler.
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

private:
    KeyHandler m_keyDown;
    KeyHandler m_keyUp;
};
