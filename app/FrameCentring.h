#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>

class QTimer;
class QWidget;

// Keeps a top-level widget centred by its outer frame, title bar included, on the primary
// screen or on another window's outer frame. A window manager tells the size of a frame only
// after the window is mapped, sometimes well after, and Qt signals nothing when it does: so
// the widget is centred at once on what is known, then watched for a while and centred again
// whenever its outer size, or the frame it is centred on, turns out different.
class FrameCentring : public QObject
{
    Q_OBJECT
public:
    // Centres the widget now and starts watching; lives as long as the widget. With `over`,
    // a visible window, on that window's frame; else on the primary screen.
    explicit FrameCentring(QWidget* widget, QWidget* over = nullptr);

    // The top left corner that centres an outer size on the screen (truncating divisions;
    // no clamping).
    static QPoint topLeftFor(QSize outer, QSize screen);

private:
    void centre();
    void check();
    QSize outerSize() const;
    // The screen's, or the frame of the window it is centred on.
    QRect area() const;

    QWidget* m_widget;
    QPointer<QWidget> m_over;
    QRect m_centredArea;
    QTimer* m_watch;
    QSize m_centredOuter;
    int m_ticks = 0;
    static constexpr int kWatchMs = 100;
    static constexpr int kWatchTicks = 50;
};
