#pragma once

#include <QIcon>

// The terminal's 32 x 32 icon: an orange-to-yellow ring open at its upper left, with a
// dark stroke reaching into the opening.
class AppIcon
{
public:
    static QIcon create();
};
