#include "app/AppIcon.h"

#include <QConicalGradient>
#include <QPainter>
#include <QPixmap>

QIcon AppIcon::create()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF ring(5, 5, 22, 22);
    QConicalGradient gradient(ring.center(), 135);
    gradient.setColorAt(0.0, QColor(255, 120, 0));
    gradient.setColorAt(1.0, QColor(255, 230, 40));
    QPen ringPen(QBrush(gradient), 5, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(ringPen);
    // Qt angles are in 1/16 degree, counter-clockwise from three o'clock: leave a gap of
    // 60 degrees centred on the upper left (135 degrees).
    painter.drawArc(ring, (135 + 30) * 16, 300 * 16);

    painter.setPen(QPen(QColor(60, 40, 20), 4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(16, 16), QPointF(7.5, 7.5));
    painter.end();
    return QIcon(pixmap);
}
