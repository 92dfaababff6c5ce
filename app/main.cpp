#include "app/QuorelMain.h"
#include "app/TerminalApplication.h"
#include "app/WidgetActiveWindowSource.h"
#include "log/ErrMsgForm.h"
#include "platform/SystemClock.h"
#include "platform/gui/StartupInfo.h"

int main(int argc, char* argv[])
{
    TerminalApplication app(argc, argv);

    WidgetActiveWindowSource activeWindow;
    ErrMsgForm& errMsg = ErrMsgForm::instance();
    errMsg.setActiveWindowSource(&activeWindow);
    errMsg.createLogFolder();

    int result = 0;
    {
        TQuorelMainForm form(SystemClock::instance());
        form.showAs(StartupInfo::showCommand());
        result = app.exec();
    }
    errMsg.setActiveWindowSource(nullptr);
    return result;
}
