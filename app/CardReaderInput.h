#pragma once

#include <QObject>
#include <QSet>
#include <QString>

#include <vector>

class QKeyEvent;
class QTimer;

// Tells a card reader's burst from a person's typing, wherever the focus is. The common
// readers of badges and key fobs (and barcode scanners) are keyboard wedges: they type the
// card's number and Enter, each key a few milliseconds after the last, faster than anybody
// types. Watching the whole application's key events, this holds back the characters typed
// while such a burst may be under way. Enough characters in quick succession, ended by an
// Enter or by silence, are a card: its characters never reach the list or the number box,
// its Enter (even one that comes late) swipes no one, and cardRead says which card it was.
// Anything slower is handed on, in its order, to where the focus is then, so a person's
// typing behaves as it always has, a few tens of milliseconds later.
//
// The gaps are measured on the key events' own time stamps, as the display server took
// them, so a window busy with a swipe while a card is read still sees a burst. Key events
// without a time stamp (made up by a program, not typed) are never a reader's.
class CardReaderInput : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        // At most this many milliseconds from one key of a read to the next: readers send a
        // key every 2 to 25 ms, people rarely two within 60 ms and never five in a row.
        int keyGapMs = 40;
        // At least this many characters: card numbers are longer (an EM4100 fob reads as ten
        // digits), employee numbers a person types are mostly shorter.
        int minLength = 6;

        // The values cardReaderKeyGap and cardReaderMinLength under the key Software/Tavelo,
        // each within its bounds; missing or unreadable ones keep the defaults.
        static Settings fromStore();
    };

    explicit CardReaderInput(const Settings& settings, QObject* parent = nullptr);
    ~CardReaderInput() override;

    const Settings& settings() const { return m_settings; }

signals:
    // A card was read: its characters, as the reader typed them.
    void cardRead(const QString& card);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Held;
    void hold(const QKeyEvent* event);
    // Hands every held key on to where the focus is, in the order they came.
    void flush();
    void deliver(const Held& held);
    void endChain();
    bool isCard() const;
    // The chain was a card: its keys are dropped and cardRead is emitted.
    void read(quint64 lastStamp);
    // No key came within the gap.
    void silence();

    // An Enter this long after a read without one is the reader's.
    static constexpr quint64 kLateEnterMs = 1000;

    Settings m_settings;
    std::vector<Held> m_held;
    // The characters of the keys in quick succession so far, whether held or (when a
    // burst was taken for typing at first) already handed on.
    QString m_chain;
    quint64 m_lastPress = 0;
    bool m_inChain = false;
    // No key of the chain was handed on yet.
    bool m_chainHeld = true;
    quint64 m_lateEnterUntil = 0;
    // The Enter that ended a read: its release is the reader's too.
    bool m_swallowEnterRelease = false;
    // The last event looked at: a key event handed to a widget's parents, or on from the
    // list to the number box, is the same event, not a new key.
    const QEvent* m_lastEvent = nullptr;
    quint64 m_lastStamp = 0;
    int m_lastType = 0;
    // The copies being handed on now; they pass untouched.
    QSet<const QEvent*> m_delivering;
    QTimer* m_silence;
};
