#pragma once

#include "platform/VirtualKey.h"

#include <QKeyEvent>

#include <functional>

class QObject;

// The Windows virtual-key code of a Qt key event.
inline quint16 virtualKeyOf(const QKeyEvent* event)
{
    return VirtualKey::fromQt(event->key(), event->modifiers(), event->nativeScanCode(),
                              event->nativeVirtualKey());
}

// A key event handler: the sender, the Windows virtual-key code (may be changed by the
// handler) and the modifier state.
using KeyHandler = std::function<void(QObject* sender, quint16& key, Qt::KeyboardModifiers modifiers)>;
