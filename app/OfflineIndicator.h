#pragma once

#include <QLabel>

// The line under the card reading area that tells the operator the terminal works without
// its server and how many swipes wait to be sent. Hidden while the server answers and
// nothing waits.
class OfflineIndicator : public QLabel
{
    Q_OBJECT
public:
    explicit OfflineIndicator(QWidget* parent = nullptr);

    void showState(bool offline, int waiting);
    // Swipes the server refused for good and the terminal keeps aside: the line stays up,
    // in red, while there are any.
    void showRefused(int refused);

    static QString textFor(bool offline, int waiting);
    static QString textFor(bool offline, int waiting, int refused);
    // Background colours: a dark red while the server cannot be reached, a dark amber
    // while queued swipes are being sent.
    static const QColor kOfflineColour;
    static const QColor kSendingColour;

private:
    void render();

    bool m_offline = false;
    int m_waiting = 0;
    int m_refused = 0;
};
