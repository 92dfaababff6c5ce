#pragma once

#include <QLabel>

// The trouble line: the band under the card reading area where the terminal says whatever
// goes wrong, not only that the server is away: a database that could not be opened at
// start, a swipe that could not be recorded, a local store that cannot be written, swipes
// the server refused, and, for a server, that the terminal works without it and how many
// swipes wait to be sent. Red for trouble, amber while waiting swipes are being sent;
// hidden while all is well. (The window's member keeps its name, OfflineLine.)
class TroubleLine : public QLabel
{
    Q_OBJECT
public:
    explicit TroubleLine(QWidget* parent = nullptr);

    void showState(bool offline, int waiting);
    // Trouble that lasts as long as its cause: a start failure, an unwritable store.
    void setLastingTrouble(const QString& text);
    // The last swipe's failure; cleared (empty text) by the next recorded swipe.
    void setSwipeTrouble(const QString& text);
    // Swipes the server refused for good and the terminal keeps aside: the line stays up,
    // in red, while there are any.
    void showRefused(int refused);

    QString lastingTrouble() const { return m_lasting; }
    QString swipeTrouble() const { return m_swipe; }

    static QString textFor(bool offline, int waiting);
    static QString textFor(bool offline, int waiting, int refused);
    // Background colours: a dark red for trouble, refused swipes and while the server cannot
    // be reached, a dark amber while queued swipes are being sent.
    static const QColor kTroubleColour;
    static const QColor kSendingColour;

private:
    void refresh();

    bool m_offline = false;
    int m_waiting = 0;
    int m_refused = 0;
    QString m_lasting;
    QString m_swipe;
};
