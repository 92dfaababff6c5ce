#pragma once

#include <QtGlobal>
#include <Qt>

#include <functional>

class QObject;

// A key event handler: the sender, the Windows virtual-key code (may be changed by the
// handler) and the modifier state.
using KeyHandler = std::function<void(QObject* sender, quint16& key, Qt::KeyboardModifiers modifiers)>;
