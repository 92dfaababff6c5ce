#pragma once

#include <QColor>

// The classic 3D colours of the desktop the terminal imitates, for bevels and sunken
// edges: every control that draws a bevel of its own draws it in these, so all bevels on
// the window match.
namespace SystemColours {

inline const QColor kButtonShadow(128, 128, 128);
inline const QColor kButtonHighlight(255, 255, 255);
inline const QColor kDarkShadow(64, 64, 64);
inline const QColor kLight(212, 208, 200);

} // namespace SystemColours
