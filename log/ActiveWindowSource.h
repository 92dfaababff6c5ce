#pragma once

#include <QString>

// Tells the error log the caption of the window that is active on the GUI thread. The
// GUI layer installs one on ErrMsgForm; without it no window is active.
class ActiveWindowSource
{
public:
    virtual ~ActiveWindowSource() = default;
    // Caption of the active window; the empty text when none is active.
    virtual QString activeWindowCaption() const = 0;
};
