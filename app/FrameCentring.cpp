#include "app/FrameCentring.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

FrameCentring::FrameCentring(QWidget* widget, QWidget* over)
    : QObject(widget), m_widget(widget), m_over(over ? over->window() : nullptr), m_watch(new QTimer(this))
{
    m_watch->setInterval(kWatchMs);
    connect(m_watch, &QTimer::timeout, this, &FrameCentring::check);
    centre();
    m_watch->start();
}

QPoint FrameCentring::topLeftFor(QSize outer, QSize screen)
{
    return {(screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2};
}

QRect FrameCentring::area() const
{
    if (m_over && m_over->isVisible() && !m_over->isMinimized()) {
        if (const QWindow* handle = m_over->windowHandle())
            return handle->frameGeometry();
        return m_over->frameGeometry();
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

void FrameCentring::centre()
{
    m_centredArea = area();
    if (m_centredArea.isEmpty())
        return;
    m_centredOuter = outerSize();
    const QPoint topLeft = m_centredArea.topLeft() + topLeftFor(m_centredOuter, m_centredArea.size());
    if (QWindow* handle = m_widget->windowHandle(); handle && m_widget->isVisible())
        handle->setFramePosition(topLeft);
    else
        m_widget->move(topLeft);
}

void FrameCentring::check()
{
    if (++m_ticks >= kWatchTicks)
        m_watch->stop();
    if (!m_widget->isVisible())
        return;
    const QSize outer = outerSize();
    if (outer != m_centredOuter || area() != m_centredArea)
        centre();
    // Once a frame is drawn around the client area its size is known for good.
    if (outer != m_widget->size())
        m_watch->stop();
}

QSize FrameCentring::outerSize() const
{
    // The widget's own frame geometry is updated only when the window moves; the platform
    // window asks the window manager each time.
    if (const QWindow* handle = m_widget->windowHandle(); handle && m_widget->isVisible())
        return handle->frameGeometry().size();
    return m_widget->frameGeometry().size();
}
