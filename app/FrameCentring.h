#pragma once

#include <QObject>
#include <QSize>

class QTimer;
class QWidget;

// Keeps a top-level widget centred on the primary screen by its outer frame, title bar
// included. A window manager tells the size of its frame only after the window is mapped,
// sometimes well after, and Qt signals nothing when it does: so the widget is centred at
// once on what is known, then watched for a while and centred again whenever its outer
// size turns out different.
class FrameCentring : public QObject
{
    Q_OBJECT
public:
    // Centres the widget now and starts watching; lives as long as the widget.
    explicit FrameCentring(QWidget* widget);

    // The top left corner that centres an outer size on the screen (truncating divisions;
    // no clamping).
    static QPoint topLeftFor(QSize outer, QSize screen);

private:
    void centre();
    void check();
    QSize outerSize() const;

    QWidget* m_widget;
    QTimer* m_watch;
    QSize m_centredOuter;
    int m_ticks = 0;
    static constexpr int kWatchMs = 100;
    static constexpr int kWatchTicks = 50;
};
