#include "app/TerminalApplication.h"

#include "app/AppIcon.h"
#include "app/ErrorReporter.h"
#include "app/TerminalStyle.h"
#include "platform/gui/FontSubstitutes.h"

#include <QFileInfo>

TerminalApplication::TerminalApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Ties the window to its desktop entry and icon, also where the caption is no guide
    // (Wayland's application id).
    setDesktopFileName(QStringLiteral(TAVELO_APP_ID));
    setUpLooks();
}

QString TerminalApplication::title()
{
    // Not Qt's display name: on X11 Qt appends that to every window caption.
    return titleFromExecutable(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
}

void TerminalApplication::setUpLooks()
{
    FontSubstitutes::install();
    QApplication::setStyle(new TerminalStyle());
    QApplication::setWindowIcon(AppIcon::create());
}

QString TerminalApplication::titleFromExecutable(const QString& fileName)
{
    QString title = fileName.section(u'.', 0, 0).toLower();
    if (!title.isEmpty())
        title[0] = title[0].toUpper();
    return title;
}

bool TerminalApplication::notify(QObject* receiver, QEvent* event)
{
    // The handlers report their own errors; this is the last resort for one that does not
    // (a Qt virtual of a control, say), before it could unwind any further.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ErrorReporter::report(std::current_exception());
    }
    return false;
}
