#include "app/MessageBox.h"

#include "app/FrameCentring.h"
#include "app/TerminalApplication.h"

#include <QApplication>

#include <deque>

namespace {

std::deque<QMessageBox::StandardButton>& nextAnswers()
{
    static std::deque<QMessageBox::StandardButton> answers;
    return answers;
}

std::vector<MessageBox::Shown>& shownBoxes()
{
    static std::vector<MessageBox::Shown> boxes;
    return boxes;
}

bool& recording()
{
    static bool on = false;
    return on;
}

} // namespace

QString MessageBox::errorText(const QString& message)
{
    // Byte order of the 8-bit text: a trailing character above '.' (letters, digits,
    // double-byte characters) gets a full stop; punctuation such as '!' or '.' does not.
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void MessageBox::error(QWidget* parent, const QString& message)
{
    ask(parent, {TerminalApplication::title(), errorText(message), QMessageBox::Critical, QMessageBox::Ok},
        QMessageBox::Ok, QMessageBox::Ok);
}

bool MessageBox::confirm(QWidget* parent, const QString& caption, const QString& text)
{
    return ask(parent, {caption, text, QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel},
               QMessageBox::Ok, QMessageBox::Cancel) == QMessageBox::Ok;
}

QMessageBox::StandardButton MessageBox::ask(QWidget* parent, const Shown& box,
                                            QMessageBox::StandardButton defaultButton,
                                            QMessageBox::StandardButton escapeButton)
{
    if (recording())
        shownBoxes().push_back(box);
    if (!nextAnswers().empty()) {
        const QMessageBox::StandardButton answer = nextAnswers().front();
        nextAnswers().pop_front();
        return answer;
    }
    QMessageBox dialog(box.icon, box.caption, box.text, box.buttons, parent);
    dialog.setDefaultButton(defaultButton);
    dialog.setEscapeButton(escapeButton);
    // Both boxes are placed by their frames, title bar included: Qt's own placement centres
    // the box's client area, which under a window manager leaves its frame a title bar's
    // height above the middle. The confirmation is centred on the screen, like the main
    // window; the error box on the window it reports for (on the screen when there is none).
    dialog.adjustSize();
    new FrameCentring(&dialog, box.icon == QMessageBox::Question ? nullptr : parent);
    const int result = dialog.exec();
    if (dialog.clickedButton() == nullptr)
        return escapeButton;
    return QMessageBox::StandardButton(result);
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    nextAnswers().push_back(answer);
}

const std::vector<MessageBox::Shown>& MessageBox::shown()
{
    return shownBoxes();
}

void MessageBox::setRecording(bool on)
{
    recording() = on;
}

void MessageBox::clearShown()
{
    shownBoxes().clear();
    nextAnswers().clear();
}
