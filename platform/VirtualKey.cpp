#include "platform/VirtualKey.h"

namespace {

// Shifted main-keyboard digits on the US layout, used when the physical key is unknown.
int digitFromShiftedSymbol(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_ParenRight:
        return 0;
    case Qt::Key_Exclam:
        return 1;
    case Qt::Key_At:
        return 2;
    case Qt::Key_NumberSign:
        return 3;
    case Qt::Key_Dollar:
        return 4;
    case Qt::Key_Percent:
        return 5;
    case Qt::Key_AsciiCircum:
        return 6;
    case Qt::Key_Ampersand:
        return 7;
    case Qt::Key_Asterisk:
        return 8;
    case Qt::Key_ParenLeft:
        return 9;
    default:
        return -1;
    }
}

// X11 keycodes (evdev + 8) of the main-keyboard digit row 1..9, 0; on Windows the
// native virtual key is used instead, so these never meet a PC scan code.
int digitFromScanCode(quint32 scanCode)
{
    if (scanCode >= 10 && scanCode <= 18)
        return int(scanCode) - 9;
    if (scanCode == 19)
        return 0;
    return -1;
}

} // namespace

quint16 VirtualKey::fromQt(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode,
                           quint32 nativeVirtualKey)
{
#ifdef Q_OS_WIN
    // Windows hands the code itself to Qt.
    if (nativeVirtualKey != 0)
        return quint16(nativeVirtualKey);
#else
    Q_UNUSED(nativeVirtualKey);
#endif
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    // The main digit row is a digit whatever the layout or Shift makes of it ("!" on
    // US Shift+1, "&" on an AZERTY 1).
    if (!keypad) {
        if (const int digit = digitFromScanCode(nativeScanCode); digit >= 0)
            return quint16(Digit0 + digit);
    }
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return quint16((keypad ? Numpad0 : Digit0) + (qtKey - Qt::Key_0));
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return quint16(qtKey); // 'A'..'Z' share their codes
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return quint16(F1 + (qtKey - Qt::Key_F1));

    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return Return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return Tab;
    case Qt::Key_Backspace:
        return Back;
    case Qt::Key_Escape:
        return Escape;
    case Qt::Key_Space:
        return Space;
    case Qt::Key_PageUp:
        return Prior;
    case Qt::Key_PageDown:
        return Next;
    case Qt::Key_End:
        return End;
    case Qt::Key_Home:
        return Home;
    case Qt::Key_Left:
        return Left;
    case Qt::Key_Up:
        return Up;
    case Qt::Key_Right:
        return Right;
    case Qt::Key_Down:
        return Down;
    case Qt::Key_Insert:
        return Insert;
    case Qt::Key_Delete:
        return Delete;
    case Qt::Key_Shift:
        return Shift;
    case Qt::Key_Control:
        return Control;
    case Qt::Key_Alt:
        return Menu;
    case Qt::Key_Clear:
        return 12; // keypad 5 with Num Lock off
    default:
        break;
    }

    // Without the physical key, Shift+digit is read back from the US layout's symbols.
    if (!keypad && nativeScanCode == 0 && modifiers.testFlag(Qt::ShiftModifier)) {
        if (const int digit = digitFromShiftedSymbol(qtKey); digit >= 0)
            return quint16(Digit0 + digit);
    }
    return 0;
}
