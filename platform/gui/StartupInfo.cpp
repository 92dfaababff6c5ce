#include "platform/gui/StartupInfo.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

StartupInfo::ShowCommand StartupInfo::showCommand()
{
#ifdef Q_OS_WIN
    STARTUPINFOW info{};
    info.cb = sizeof(info);
    GetStartupInfoW(&info);
    if (info.dwFlags & STARTF_USESHOWWINDOW) {
        if (info.wShowWindow == SW_SHOWMAXIMIZED)
            return ShowCommand::Maximized;
        if (info.wShowWindow == SW_SHOWMINNOACTIVE)
            return ShowCommand::MinimizedNoActivate;
    }
#endif
    return ShowCommand::Normal;
}
