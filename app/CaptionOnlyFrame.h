#pragma once

class QWindow;

// Asks the X11 window manager, through the Motif hints, for a frame whose title bar shows
// the caption only: a border and a title, no window menu, no minimise or maximise box.
// Close and minimise stay allowed as functions, so the task-bar entry can still minimise
// the window and close it (which takes the power button's path). Elsewhere (Wayland,
// headless) there is nothing to ask and nothing is done.
class CaptionOnlyFrame
{
public:
    // Writes the hints on the window's native window; call it before the window is mapped
    // (the manager reads them then). A window that may be resized (the maximised start)
    // also keeps the resize and maximise functions. False when the hints could not be
    // written on an X11 display.
    static bool apply(QWindow* window, bool resizable);

    // The five 32-bit fields of _MOTIF_WM_HINTS: flags, functions, decorations, input mode,
    // status.
    struct Hints
    {
        unsigned flags;
        unsigned functions;
        unsigned decorations;
        unsigned inputMode;
        unsigned status;
    };
    static Hints hints(bool resizable);
};
