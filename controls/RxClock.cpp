#include "controls/RxClock.h"

#include "controls/SystemColours.h"
#include "platform/LocaleInfo.h"

#include <QApplication>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QtMath>
#include <algorithm>

namespace {

// The classic 3D colours of bevels and of the sunken client edge.
const QColor& kShadow = SystemColours::kButtonShadow;
const QColor& kHighlight = SystemColours::kButtonHighlight;
const QColor& kDarkShadow = SystemColours::kDarkShadow;
const QColor& kLight = SystemColours::kLight;

constexpr int kClientEdge = 2;
constexpr int kTextFlags =
    Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextExpandTabs | Qt::TextDontClip;
constexpr int kSuffixFlags =
    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextExpandTabs | Qt::TextDontClip;

QString two(int v)
{
    return QString::number(v).rightJustified(2, u'0');
}

// Top and left lines in one colour, bottom and right in the other, one pixel wide.
void frameLine(QPainter& painter, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
}

} // namespace

RxClock::RxClock(QWidget* parent, const Clock& clock)
    : QWidget(parent), m_clock(clock), m_ticker(new RxTimer(this)),
      m_color(palette().color(QPalette::Button)), m_separatorSource(&LocaleInfo::timeSeparator)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    readSeparator();

    m_ticker->setInterval(450);
    m_ticker->setOnTimer([this] { tick(); });

    const QTime now = readTime();
    m_drawnHour = now.hour() % 12;
    m_drawnMinute = now.minute();
    m_drawnSecond = now.second();
    m_alarmArmed = true;
}

RxClock::~RxClock()
{
    // The ticker goes first, so no tick can reach a half-destroyed control.
    delete m_ticker;
    m_ticker = nullptr;
}

void RxClock::setShowMode(ShowMode value)
{
    if (value == m_showMode)
        return;
    m_showMode = value;
    update();
}

void RxClock::setShowSeconds(bool value)
{
    if (value == m_showSeconds)
        return;
    m_showSeconds = value;
    update();
    fitFont();
}

void RxClock::setTwelveHour(bool value)
{
    if (value == m_twelveHour)
        return;
    m_twelveHour = value;
    update();
    fitFont();
}

void RxClock::setLeadingZero(bool value)
{
    if (value == m_leadingZero)
        return;
    m_leadingZero = value;
    update();
}

void RxClock::setAutoSize(bool value)
{
    if (value == m_autoSize)
        return;
    m_autoSize = value;
    if (value) {
        update();
        fitFont();
    }
}

void RxClock::setDotsColor(const QColor& value)
{
    if (value == m_dotsColor)
        return;
    m_dotsColor = value;
    update();
}

void RxClock::setAlarmEnabled(bool value)
{
    if (value == m_alarmEnabled)
        return;
    m_alarmEnabled = value;
}

void RxClock::setAlarmHour(quint8 value)
{
    m_alarmHour = value;
}

void RxClock::setAlarmMinute(quint8 value)
{
    m_alarmMinute = value;
}

void RxClock::setAlarmSecond(quint8 value)
{
    m_alarmSecond = value;
}

void RxClock::setBevelOuter(Bevel value)
{
    if (value == m_bevelOuter)
        return;
    m_bevelOuter = value;
    update();
}

void RxClock::setBevelInner(Bevel value)
{
    if (value == m_bevelInner)
        return;
    m_bevelInner = value;
    update();
}

void RxClock::setBevelWidth(int value)
{
    if (value == m_bevelWidth)
        return;
    m_bevelWidth = value;
    update();
}

void RxClock::setBorderWidth(int value)
{
    if (value == m_borderWidth)
        return;
    m_borderWidth = value;
    update();
}

void RxClock::setBorderStyle(BorderStyle value)
{
    if (value == m_borderStyle)
        return;
    m_borderStyle = value;
    const int edge = value == bsSingle ? kClientEdge : 0;
    setContentsMargins(edge, edge, edge, edge);
    fitFont();
    update();
}

void RxClock::setColor(const QColor& value)
{
    if (value == m_color)
        return;
    m_color = value;
    update();
}

QColor RxClock::fontColor() const
{
    return palette().color(QPalette::WindowText);
}

void RxClock::setFontColor(const QColor& value)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, value);
    setPalette(p);
    update();
}

void RxClock::setTimeSeparatorSource(std::function<QChar()> source)
{
    m_separatorSource = std::move(source);
    readSeparator();
    update();
}

void RxClock::readSeparator()
{
    const QChar c = m_separatorSource ? m_separatorSource() : QChar();
    m_separator = c.isNull() ? QChar(u':') : c;
}

void RxClock::timeChanged()
{
    update();
    checkAlarm(readTime());
}

QTime RxClock::readTime()
{
    QTime time = m_clock.now().time();
    if (m_onGetTime)
        m_onGetTime(*this, time);
    return time;
}

void RxClock::doAlarm()
{
    if (m_onAlarm)
        m_onAlarm(*this);
}

QString RxClock::textFor(const QTime& time) const
{
    int hour = time.hour();
    if (m_twelveHour) {
        hour %= 12;
        if (hour == 0)
            hour = 12;
    }
    QString text = m_leadingZero ? two(hour) : QString::number(hour);
    text += m_separator + two(time.minute());
    if (m_showSeconds)
        text += m_separator + two(time.second());
    if (m_twelveHour) {
        const QLocale locale = QLocale::system();
        text += u' ' + (time.hour() < 12 ? locale.amText() : locale.pmText());
    }
    return text;
}

int RxClock::cellCount(const QTime& time) const
{
    const int hour = m_twelveHour ? (time.hour() % 12 == 0 ? 12 : time.hour() % 12) : time.hour();
    return (hour >= 10 || m_leadingZero ? 5 : 4) + (m_showSeconds ? 3 : 0);
}

QRect RxClock::clientRect() const
{
    return contentsRect();
}

QRect RxClock::innerRect() const
{
    int shrink = m_borderWidth;
    if (m_bevelOuter != bvNone)
        shrink += m_bevelWidth;
    if (m_bevelInner != bvNone)
        shrink += m_bevelWidth;
    return clientRect().adjusted(shrink, shrink, -shrink, -shrink);
}

RxClock::Layout RxClock::layoutFor(const QTime& time) const
{
    Layout l;
    l.text = textFor(time);
    l.cells = cellCount(time);
    l.suffix = l.text.mid(l.cells);
    l.minuteCell = l.cells - (m_showSeconds ? 3 : 0) - 1;
    l.secondCell = m_showSeconds ? l.cells - 1 : 0;

    const QFontMetrics fm(font());
    l.cellWidth = fm.horizontalAdvance(QStringLiteral("8"));
    l.height = fm.height();
    const int totalWidth = l.cells * l.cellWidth + (l.suffix.isEmpty() ? 0 : fm.horizontalAdvance(l.suffix));
    const QRect r = innerRect();
    const int rightEdge = r.x() + r.width();
    const int bottomEdge = r.y() + r.height();
    l.left = (r.x() + rightEdge - totalWidth) / 2;
    l.top = (r.y() + bottomEdge - l.height) / 2;
    return l;
}

QRect RxClock::cellRect(const QTime& time, int i) const
{
    return layoutFor(time).cell(i);
}

void RxClock::rememberDrawn(const QTime& time)
{
    m_drawnHour = time.hour() % 12;
    m_drawnMinute = time.minute();
    m_drawnSecond = time.second();
}

void RxClock::tick()
{
    const QTime time = readTime();
    if (m_showMode == scAnalog) {
        // The hands move over the whole face; the bevels stay.
        update(innerRect());
        rememberDrawn(time);
        checkAlarm(time);
        return;
    }

    m_tickPaint = TickPaint{true, time, {}, {}};
    if (time.hour() % 12 != m_drawnHour) {
        repaint();
    } else {
        const Layout layout = layoutFor(time);
        QList<int>& cells = m_tickPaint.cells;
        if (time.minute() != m_drawnMinute)
            cells << layout.minuteCell << layout.minuteCell + 1;
        if (layout.secondCell && time.second() != m_drawnSecond)
            cells << layout.secondCell << layout.secondCell + 1;
        for (const int i : cells)
            m_tickPaint.region += layout.cell(i);
        rememberDrawn(time);
        if (!m_tickPaint.region.isEmpty())
            repaint(m_tickPaint.region);
    }
    m_tickPaint = TickPaint{};
    checkAlarm(time);
}

void RxClock::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    m_lastPaintRegion = event->region();
    if (m_tickPaint.active && m_showMode == scDigital && !m_tickPaint.cells.isEmpty() &&
        (event->region() - m_tickPaint.region).isEmpty()) {
        painter.setFont(font());
        paintCells(painter, m_tickPaint.time, layoutFor(m_tickPaint.time), m_tickPaint.cells);
        ++m_partialPaints;
        m_lastPaintFull = false;
        return;
    }
    // Anything else, uncovering or restoring included, repaints everything; during a tick
    // it uses that tick's time reading.
    const QTime time = m_tickPaint.active ? m_tickPaint.time : readTime();
    const int drawnHour = m_drawnHour;
    const int drawnMinute = m_drawnMinute;
    const int drawnSecond = m_drawnSecond;
    paintFull(painter, time);
    ++m_fullPaints;
    m_lastPaintFull = true;
    if (!(QRegion(rect()) - event->region()).isEmpty()) {
        // Qt clipped the paint to part of the control: the cells outside still show the
        // last-drawn time. Keep that as the last-drawn time, and when it is out of date
        // have the whole control painted, so no stale digit stays on screen.
        m_drawnHour = drawnHour;
        m_drawnMinute = drawnMinute;
        m_drawnSecond = drawnSecond;
        if (time.hour() % 12 != drawnHour || time.minute() != drawnMinute || time.second() != drawnSecond)
            update();
    }
}

void RxClock::drawBevel(QPainter& painter, QRect& rect, Bevel bevel)
{
    if (bevel == bvNone)
        return;
    const bool lowered = bevel == bvLowered;
    for (int i = 0; i < m_bevelWidth; ++i) {
        frameLine(painter, rect, lowered ? kShadow : kHighlight, lowered ? kHighlight : kShadow);
        rect.adjust(1, 1, -1, -1);
    }
}

void RxClock::paintFull(QPainter& painter, const QTime& time)
{
    if (m_borderStyle == bsSingle) {
        const QRect outer = rect();
        frameLine(painter, outer, kShadow, kHighlight);
        frameLine(painter, outer.adjusted(1, 1, -1, -1), kDarkShadow, kLight);
    }
    QRect r = clientRect();
    painter.fillRect(r, m_color);
    drawBevel(painter, r, m_bevelOuter);
    r.adjust(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth);
    drawBevel(painter, r, m_bevelInner);

    painter.setFont(font());
    if (m_showMode == scAnalog) {
        paintFace(painter, time);
        rememberDrawn(time);
        return;
    }
    const Layout layout = layoutFor(time);
    QList<int> all;
    for (int i = 1; i <= layout.cells; ++i)
        all << i;
    paintCells(painter, time, layout, all);
    m_shownText = layout.text;
    if (!layout.suffix.isEmpty()) {
        const QRect suffixRect(layout.left + layout.cells * layout.cellWidth, layout.top,
                               painter.fontMetrics().horizontalAdvance(layout.suffix), layout.height);
        painter.drawText(suffixRect, kSuffixFlags, layout.suffix);
    }
    rememberDrawn(time);
}

void RxClock::paintCells(QPainter& painter, const QTime& /*time*/, const Layout& layout,
                         const QList<int>& cells)
{
    painter.setPen(fontColor());
    for (const int i : cells) {
        const QRect cell = layout.cell(i);
        painter.fillRect(cell, m_color);
        painter.drawText(cell, kTextFlags, QString(layout.text.at(i - 1)));
        if (m_shownText.size() == layout.text.size())
            m_shownText[i - 1] = layout.text.at(i - 1);
    }
    m_lastPaintedCells = cells;
}

void RxClock::paintFace(QPainter& painter, const QTime& time)
{
    const QRect r = innerRect();
    // Square pixels: the face is the largest circle that fits, with a small margin.
    const int radius = std::max(1, std::min(r.width(), r.height()) / 2 - 4);
    const QPointF centre = QRectF(r).center();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal dot = std::max(1.0, radius / 40.0);
    for (int i = 0; i < 60; ++i) {
        const qreal a = qDegreesToRadians(i * 6.0);
        const QPointF p(centre.x() + radius * qSin(a), centre.y() - radius * qCos(a));
        const bool hourMark = i % 5 == 0;
        painter.setBrush(hourMark ? m_dotsColor : fontColor());
        const qreal size = hourMark ? dot * 3 : dot;
        painter.drawRect(QRectF(p.x() - size / 2, p.y() - size / 2, size, size));
    }
    const auto hand = [&](qreal degrees, qreal length, qreal width) {
        const qreal a = qDegreesToRadians(degrees);
        painter.setPen(QPen(fontColor(), width, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(centre, QPointF(centre.x() + length * qSin(a), centre.y() - length * qCos(a)));
    };
    hand((time.hour() % 12 + time.minute() / 60.0) * 30.0, radius * 0.55, std::max(2.0, radius / 15.0));
    hand((time.minute() + time.second() / 60.0) * 6.0, radius * 0.8, std::max(1.5, radius / 25.0));
    if (m_showSeconds)
        hand(time.second() * 6.0, radius * 0.9, 1.0);
}

void RxClock::checkAlarm(const QTime& time)
{
    const int alarm = m_alarmHour * 3600 + m_alarmMinute * 60 + m_alarmSecond;
    const int now = time.hour() * 3600 + time.minute() * 60 + time.second();
    if (!m_alarmEnabled) {
        m_alarmArmed = now < alarm || alarm == 0;
        return;
    }
    if (m_alarmArmed) {
        if (time.hour() == m_alarmHour && time.minute() == m_alarmMinute && time.second() >= m_alarmSecond) {
            m_alarmArmed = false;
            doAlarm();
        }
    } else if (now < alarm) {
        m_alarmArmed = true;
    }
}

void RxClock::loaded()
{
    reevaluateAlarmArmed();
}

void RxClock::reevaluateAlarmArmed()
{
    const QTime time = readTime();
    const int alarm = m_alarmHour * 3600 + m_alarmMinute * 60 + m_alarmSecond;
    m_alarmArmed = time.hour() * 3600 + time.minute() * 60 + time.second() < alarm || alarm == 0;
}

void RxClock::fitFont()
{
    if (!m_autoSize || m_fitting)
        return;
    const QRect c = clientRect();
    QString sample = QStringLiteral("88888");
    if (m_showSeconds)
        sample += QStringLiteral("888");
    if (m_twelveHour) {
        const QLocale locale = QLocale::system();
        QFont probe = font();
        probe.setPixelSize(1000);
        const QFontMetrics fm(probe);
        const QString am = locale.amText();
        const QString pm = locale.pmText();
        sample = (fm.horizontalAdvance(am) >= fm.horizontalAdvance(pm) ? am : pm) + u' ' + sample;
    }
    QFont f = font();
    f.setPixelSize(1000);
    const int widthAt1000 = std::max(1, QFontMetrics(f).horizontalAdvance(sample));
    const int byWidth = int(qint64(1000) * (c.width() - 30) / widthAt1000);
    const int byHeight = (c.height() - 4) * 4 / 5;
    f.setPixelSize(std::max(1, std::min(byWidth, byHeight)));
    m_fitting = true;
    setFont(f);
    m_fitting = false;
}

void RxClock::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitFont();
}

void RxClock::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Minimise and restore reach only the top-level window; watch it for them.
    if (window() != m_watchedWindow) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = window();
        if (m_watchedWindow != this)
            m_watchedWindow->installEventFilter(this);
    }
}

bool RxClock::eventFilter(QObject* watched, QEvent* event)
{
    // Restored from the task bar, the platform may show what the window held when it was
    // minimised; the clock shows the current time in full instead.
    if (watched == m_watchedWindow && event->type() == QEvent::WindowStateChange &&
        static_cast<QWindowStateChangeEvent*>(event)->oldState().testFlag(Qt::WindowMinimized) &&
        !m_watchedWindow->isMinimized())
        update();
    return QWidget::eventFilter(watched, event);
}

void RxClock::changeEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::FontChange:
        update();
        fitFont();
        break;
    case QEvent::LocaleChange:
        readSeparator();
        update();
        fitFont();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}
