#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <variant>

// One value as a back end delivers it, keeping its storage class, so that a loaded row can
// be bound back unchanged to find it again.
using DbValue = std::variant<std::monostate, qint64, double, QString, QByteArray>;
