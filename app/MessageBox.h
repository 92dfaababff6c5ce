#pragma once

#include <QMessageBox>
#include <QString>

#include <vector>

class QWidget;

// The two dialogs that reach the operator: the error box and the delete confirmation.
// Tests set the next answer so that no box ever blocks them; every box asked for is
// recorded with its looks.
class MessageBox
{
public:
    struct Shown
    {
        QString caption;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };

    // Stop icon, OK, the application title as caption; a full stop is appended when the
    // text's last character sorts after '.'.
    static void error(QWidget* parent, const QString& message);
    // "Confirm" / "Delete record?" style question with OK (default) and Cancel; Escape and
    // closing the box answer Cancel. True for OK.
    static bool confirm(QWidget* parent, const QString& caption, const QString& text);

    static QString errorText(const QString& message);

    // Queues the answer for the next box asked for; several queue up in order.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // Boxes are recorded only while a test has switched recording on.
    static void setRecording(bool on);
    static const std::vector<Shown>& shown();
    // Forgets the boxes shown and any answers still queued.
    static void clearShown();

private:
    static QMessageBox::StandardButton ask(QWidget* parent, const Shown& box,
                                           QMessageBox::StandardButton defaultButton,
                                           QMessageBox::StandardButton escapeButton);
};
