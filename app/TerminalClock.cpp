#include "app/TerminalClock.h"

#include "controls/RxClock.h"

void TerminalClock::configure(RxClock& clock)
{
    clock.setObjectName(QStringLiteral("RxClockHT"));
    clock.setGeometry(232, 8, 345, 81);
    clock.setColor(QColor(128, 128, 0));
    clock.setBevelOuter(RxClock::bvLowered);
    clock.setBevelInner(RxClock::bvRaised);
    clock.setBorderStyle(RxClock::bsSingle);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(32);
    font.setBold(true);
    clock.setFont(font);
    clock.loaded();
}
