#include "app/WidgetActiveWindowSource.h"

#include <QApplication>
#include <QWidget>

QString WidgetActiveWindowSource::activeWindowCaption() const
{
    const QWidget* window = QApplication::activeWindow();
    return window ? window->windowTitle() : QString();
}
