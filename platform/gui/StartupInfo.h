#pragma once

// How the program was asked to show its main window. Windows hands this to a process
// through its start-up information (a shortcut set to run maximised, say); Linux desktops
// have no such channel, so there the answer is always Normal.
class StartupInfo
{
public:
    enum class ShowCommand
    {
        Normal,
        Maximized,
        MinimizedNoActivate
    };
    static ShowCommand showCommand();
};
