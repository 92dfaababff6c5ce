#include "app/TerminalApplication.h"

#include "app/AppIcon.h"
#include "app/MessageBox.h"
#include "app/TerminalStyle.h"
#include "platform/Exception.h"
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
    try {
        return QApplication::notify(receiver, event);
    } catch (const Exception& error) {
        MessageBox::error(activeWindow(), error.message());
    } catch (const std::exception& error) {
        MessageBox::error(activeWindow(), QString::fromLocal8Bit(error.what()));
    } catch (...) {
        MessageBox::error(activeWindow(), QStringLiteral("Unknown error"));
    }
    return false;
}
