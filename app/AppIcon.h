#pragma once

#include <QIcon>
#include <QImage>

// The terminal's icon: an orange-to-yellow ring open at its upper left, with a dark
// stroke reaching into the opening. One SVG picture, built into the program, serves the
// window and the icons the package installs, so that they cannot drift apart.
class AppIcon
{
public:
    // The window's and the application's icon, 32 x 32.
    static QIcon create();
    // The picture rendered at size x size pixels on a transparent background.
    static QImage image(int size);
};
