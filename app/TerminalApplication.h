#pragma once

#include <QApplication>

// The application object: derives the title from the executable's name, switches hints
// on, and shows whatever error escapes an event handler in the error box, then carries
// on with the next event.
class TerminalApplication : public QApplication
{
    Q_OBJECT
public:
    TerminalApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The application title: the caption of the error box.
    static QString title();
    // "TERMINAL.EXE" -> "Terminal": the name up to its first '.', first letter upper case
    // and the rest lower case.
    static QString titleFromExecutable(const QString& fileName);
    // Shared with tests, which run without this application class.
    static void setUpLooks();
};
