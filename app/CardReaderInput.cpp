#include "app/CardReaderInput.h"

#include "platform/SettingsStore.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

struct CardReaderInput::Held
{
    QEvent::Type type;
    int key;
    Qt::KeyboardModifiers modifiers;
    quint32 nativeScanCode;
    quint32 nativeVirtualKey;
    quint32 nativeModifiers;
    QString text;
    bool autoRepeat;
    quint16 count;
    quint64 timestamp;
};

namespace {

const QString kKeyPath = QStringLiteral("\\Software\\Tavelo");

int boundedValue(const SettingsStore& store, const QString& name, int fallback, int lowest, int highest)
{
    bool ok = false;
    const int value = store.readString(name).trimmed().toInt(&ok);
    return ok && value >= lowest && value <= highest ? value : fallback;
}

bool isEnter(const QKeyEvent* event)
{
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
           (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// A key a reader types a card with: one printable character, no Ctrl, Alt or Meta.
bool isCharacter(const QKeyEvent* event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    return text.size() == 1 && text.at(0).isPrint() && !text.at(0).isSpace();
}

// Shift, which a reader presses for the capital letters of a barcode.
bool isShift(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Shift;
}

} // namespace

CardReaderInput::Settings CardReaderInput::Settings::fromStore()
{
    Settings settings;
    SettingsStore store;
    if (store.openKey(kKeyPath, false)) {
        settings.keyGapMs =
            boundedValue(store, QStringLiteral("cardReaderKeyGap"), settings.keyGapMs, 1, 500);
        settings.minLength =
            boundedValue(store, QStringLiteral("cardReaderMinLength"), settings.minLength, 1, 64);
    }
    store.closeKey();
    return settings;
}

CardReaderInput::CardReaderInput(const Settings& settings, QObject* parent)
    : QObject(parent), m_settings(settings), m_silence(new QTimer(this))
{
    m_silence->setSingleShot(true);
    // A little longer than the gap: the next key of a burst is always in by then.
    m_silence->setInterval(m_settings.keyGapMs + 10);
    connect(m_silence, &QTimer::timeout, this, &CardReaderInput::silence);
}

CardReaderInput::~CardReaderInput() = default;

void CardReaderInput::hold(const QKeyEvent* event)
{
    m_held.push_back({event->type(), event->key(), event->modifiers(), event->nativeScanCode(),
                      event->nativeVirtualKey(), event->nativeModifiers(), event->text(),
                      event->isAutoRepeat(), quint16(event->count()), event->timestamp()});
}

void CardReaderInput::deliver(const Held& held)
{
    QWidget* target = QApplication::focusWidget();
    if (!target)
        target = QApplication::activeModalWidget();
    if (!target)
        target = QApplication::activeWindow();
    if (!target)
        return;
    QKeyEvent copy(held.type, held.key, held.modifiers, held.nativeScanCode, held.nativeVirtualKey,
                   held.nativeModifiers, held.text, held.autoRepeat, held.count);
    copy.setTimestamp(held.timestamp);
    m_delivering.insert(&copy);
    QPointer<CardReaderInput> self(this);
    QApplication::sendEvent(target, &copy);
    if (self)
        m_delivering.remove(&copy);
}

void CardReaderInput::flush()
{
    m_silence->stop();
    // Taken out first: a key handed on may open a box whose own loop brings new keys here.
    std::vector<Held> held;
    held.swap(m_held);
    for (const Held& one : held)
        deliver(one);
}

void CardReaderInput::endChain()
{
    m_inChain = false;
    m_chain.clear();
    m_chainHeld = true;
}

bool CardReaderInput::isCard() const
{
    return m_chain.size() >= m_settings.minLength;
}

void CardReaderInput::read(quint64 lastStamp)
{
    const QString card = m_chain;
    m_silence->stop();
    m_held.clear();
    endChain();
    // A reader's Enter that comes late (after a pause of the system, or from a reader set to
    // send no Enter at all and a person pressing it) still records nobody else.
    m_lateEnterUntil = lastStamp + kLateEnterMs;
    emit cardRead(card);
}

void CardReaderInput::silence()
{
    // No more keys: characters in quick succession, as many as a card has, were a read even
    // without an Enter; anything else was typing.
    if (m_inChain && m_chainHeld && isCard()) {
        read(m_lastPress);
        return;
    }
    flush();
    m_chainHeld = false;
}

bool CardReaderInput::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    if (m_delivering.contains(event) || !watched->isWidgetType())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->timestamp() == 0)
        return false;
    if (event == m_lastEvent && key->timestamp() == m_lastStamp && int(event->type()) == m_lastType)
        return false;
    m_lastEvent = event;
    m_lastStamp = key->timestamp();
    m_lastType = int(event->type());

    if (event->type() == QEvent::KeyRelease) {
        if (m_swallowEnterRelease && isEnter(key)) {
            m_swallowEnterRelease = false;
            return true;
        }
        // The releases of held keys stay behind their presses.
        if (!m_held.empty()) {
            hold(key);
            return true;
        }
        return false;
    }

    const quint64 stamp = key->timestamp();
    const bool quick =
        m_inChain && stamp >= m_lastPress && stamp - m_lastPress <= quint64(m_settings.keyGapMs);

    if (isEnter(key) && !key->isAutoRepeat()) {
        if (quick && isCard()) {
            // A card: nothing of it goes on, and the Enter swipes no one but its holder.
            read(stamp);
            m_lateEnterUntil = 0;
            m_swallowEnterRelease = true;
            return true;
        }
        if (m_held.empty() && m_lateEnterUntil != 0 && stamp <= m_lateEnterUntil) {
            m_lateEnterUntil = 0;
            m_swallowEnterRelease = true;
            return true;
        }
    }
    m_lateEnterUntil = 0;

    if (!key->isAutoRepeat() && (isCharacter(key) || (isShift(key) && quick))) {
        if (!quick) {
            // Too slow to be the same read: what was held is typing, and a new burst may
            // start here.
            flush();
            endChain();
        }
        m_inChain = true;
        m_lastPress = stamp;
        if (isCharacter(key))
            m_chain += key->text();
        hold(key);
        m_silence->start();
        return true;
    }

    // Any other key ends a burst. What was held goes first, then this key, to where the
    // focus is once the held keys have moved it.
    endChain();
    if (m_held.empty())
        return false;
    flush();
    hold(key);
    flush();
    return true;
}
