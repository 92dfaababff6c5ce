#include "app/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon AppIcon::create()
{
    return QIcon(QPixmap::fromImage(image(32)));
}

QImage AppIcon::image(int size)
{
    QImage picture(size, size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/icons/appicon.svg"));
    QPainter painter(&picture);
    renderer.render(&painter);
    painter.end();
    return picture;
}
