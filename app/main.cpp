#include "app/QuorelMain.h"
#include "app/TerminalApplication.h"
#include "app/TerminalCommandLine.h"
#include "app/TerminalLanguage.h"
#include "app/WidgetActiveWindowSource.h"
#include "log/ErrMsgForm.h"
#include "platform/SystemClock.h"
#include "platform/gui/StartupInfo.h"
#include "query/ArgumentPasswords.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const TerminalCommandLine commandLine = TerminalCommandLine::parse(arguments);
    // Read now: from here on the process list shows no password of a --database TARGET.
    ArgumentPasswords::hide(argc, argv);
    if (commandLine.action() != TerminalCommandLine::Action::Run)
        return commandLine.report();

    // Qt sees the program name only: its own options would change the fixed layout.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    TerminalApplication app(qtArgc, qtArgv);
    // Before the first text is made: from here on every one speaks the chosen language.
    if (!TerminalLanguage::install(app, TerminalLanguage::chosen()))
        std::fputs("tavelo: the English translation cannot be loaded; the texts stay Chinese\n", stderr);

    WidgetActiveWindowSource activeWindow;
    ErrMsgForm& errMsg = ErrMsgForm::instance();
    errMsg.setActiveWindowSource(&activeWindow);
    errMsg.createLogFolder();

    int result = 0;
    {
        TQuorelMainForm form(SystemClock::instance());
        form.setDatabaseOption(commandLine.database());
        form.showAs(StartupInfo::showCommand());
        result = app.exec();
    }
    errMsg.setActiveWindowSource(nullptr);
    return result;
}
