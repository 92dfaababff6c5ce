#pragma once

// Maps the Windows face names the window definition uses onto free faces from Debian's
// packages, so the layout and the Chinese texts come out as on the original terminal.
class FontSubstitutes
{
public:
    static void install();
};
