#pragma once

class Clock;
class QWidget;
class RxClock;

// The terminal's large clock as the window defines it: olive, lowered outer and raised
// inner bevel, a sunken client edge, bold 32-pixel "MS Sans Serif", at its place in the
// upper right of the window.
class TerminalClock
{
public:
    static void configure(RxClock& clock);
};
