#pragma once

#include <Qt>
#include <QtGlobal>

// The one place where Qt's key events become Windows virtual-key codes. The terminal's
// handlers take these codes so that their routing reads the same as on the card clock.
class VirtualKey
{
public:
    enum Code : quint16
    {
        Back = 8,
        Tab = 9,
        Return = 13,
        Shift = 16,
        Control = 17,
        Menu = 18,
        Escape = 27,
        Space = 32,
        Prior = 33,
        Next = 34,
        End = 35,
        Home = 36,
        Left = 37,
        Up = 38,
        Right = 39,
        Down = 40,
        Insert = 45,
        Delete = 46,
        Digit0 = 48,
        Digit9 = 57,
        Numpad0 = 96,
        Numpad9 = 105,
        F1 = 112,
        F2 = 113,
    };

    // nativeScanCode is the X11 keycode on Linux (0 when the platform gives none); it
    // identifies the physical digit key when Shift or the layout made a symbol of it.
    // nativeVirtualKey is the Windows code where Qt runs on Windows.
    static quint16 fromQt(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode = 0,
                          quint32 nativeVirtualKey = 0);
};
