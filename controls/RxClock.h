#pragma once

#include "controls/RxTimer.h"
#include "platform/Clock.h"
#include "platform/SystemClock.h"

#include <QColor>
#include <QList>
#include <QPointer>
#include <QRegion>
#include <QTime>
#include <QWidget>
#include <functional>

// Large digital (or analogue) clock in a bevelled panel. It keeps itself current through
// its own ticker: each tick reads the time once and repaints only the character cells that
// changed (the seconds, and the minutes when the minute turned); a change of the hour
// modulo 12 repaints the whole face at once. Every character, separators included, sits
// centred in a cell as wide as the digit 8, so proportional digits never shift.
//
// The widget is opaque: it paints its whole area itself and Qt never erases behind it.
class RxClock : public QWidget
{
    Q_OBJECT

public:
    enum ShowMode
    {
        scDigital,
        scAnalog
    };
    enum Bevel
    {
        bvNone,
        bvLowered,
        bvRaised,
        bvSpace
    };
    enum BorderStyle
    {
        bsNone,
        bsSingle
    };

    // The handler may adjust the time of day it is given.
    using GetTimeHandler = std::function<void(RxClock& sender, QTime& time)>;
    using AlarmHandler = std::function<void(RxClock& sender)>;

    explicit RxClock(QWidget* parent = nullptr, const Clock& clock = SystemClock::instance());
    ~RxClock() override;

    ShowMode showMode() const { return m_showMode; }
    void setShowMode(ShowMode value);
    bool showSeconds() const { return m_showSeconds; }
    void setShowSeconds(bool value);
    bool twelveHour() const { return m_twelveHour; }
    void setTwelveHour(bool value);
    bool leadingZero() const { return m_leadingZero; }
    void setLeadingZero(bool value);
    bool autoSize() const { return m_autoSize; }
    void setAutoSize(bool value);
    QColor dotsColor() const { return m_dotsColor; }
    void setDotsColor(const QColor& value);

    bool alarmEnabled() const { return m_alarmEnabled; }
    void setAlarmEnabled(bool value);
    quint8 alarmHour() const { return m_alarmHour; }
    void setAlarmHour(quint8 value);
    quint8 alarmMinute() const { return m_alarmMinute; }
    void setAlarmMinute(quint8 value);
    quint8 alarmSecond() const { return m_alarmSecond; }
    void setAlarmSecond(quint8 value);

    Bevel bevelOuter() const { return m_bevelOuter; }
    void setBevelOuter(Bevel value);
    Bevel bevelInner() const { return m_bevelInner; }
    void setBevelInner(Bevel value);
    int bevelWidth() const { return m_bevelWidth; }
    void setBevelWidth(int value);
    int borderWidth() const { return m_borderWidth; }
    void setBorderWidth(int value);
    BorderStyle borderStyle() const { return m_borderStyle; }
    void setBorderStyle(BorderStyle value);
    QColor color() const { return m_color; }
    void setColor(const QColor& value);
    // The text colour; the face itself comes from QWidget::setFont.
    QColor fontColor() const;
    void setFontColor(const QColor& value);

    void setOnGetTime(GetTimeHandler handler) { m_onGetTime = std::move(handler); }
    void setOnAlarm(AlarmHandler handler) { m_onAlarm = std::move(handler); }

    RxTimer& ticker() { return *m_ticker; }

    // Where the time separator comes from; LocaleInfo by default. It is read again on
    // every locale change.
    void setTimeSeparatorSource(std::function<QChar()> source);
    QChar timeSeparator() const { return m_separator; }

    // The system time was changed: repaint in full and check the alarm.
    void timeChanged();
    // The owner has applied its settings: the alarm is armed when the time of day lies
    // before the alarm time (or that is 0). Setting the alarm values alone does not
    // re-arm, so an alarm set for the current second still fires.
    void loaded();

    // The text shown for a time of day: the cells followed by the suffix (" AM"/" PM").
    QString textFor(const QTime& time) const;
    // Number of character cells for a time of day (the suffix excluded).
    int cellCount(const QTime& time) const;
    // The client area less the border and the bevels: where the cells are centred.
    QRect innerRect() const;
    // Cell i (1-based) of the text for the given time.
    QRect cellRect(const QTime& time, int i) const;

    // What the last paint event drew: its cells (1-based) and whether it was a full paint;
    // the characters currently on screen. For tests and measurements.
    const QList<int>& lastPaintedCells() const { return m_lastPaintedCells; }
    bool lastPaintWasFull() const { return m_lastPaintFull; }
    QRegion lastPaintRegion() const { return m_lastPaintRegion; }
    int fullPaints() const { return m_fullPaints; }
    int partialPaints() const { return m_partialPaints; }
    QString shownText() const { return m_shownText; }

public slots:
    // One tick of the ticker; runs on the GUI thread.
    void tick();

protected:
    // The one time reading of a draw: the injected clock, then OnGetTime.
    virtual QTime readTime();
    virtual void doAlarm();

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Layout
    {
        QString text;
        int cells = 0;
        QString suffix;
        int minuteCell = 0;
        int secondCell = 0; // 0 without seconds
        int cellWidth = 0;
        int left = 0;
        int top = 0;
        int height = 0;
        QRect cell(int i) const { return QRect(left + (i - 1) * cellWidth, top, cellWidth, height); }
    };

    Layout layoutFor(const QTime& time) const;
    QRect clientRect() const;
    void paintFull(QPainter& painter, const QTime& time);
    void paintCells(QPainter& painter, const QTime& time, const Layout& layout, const QList<int>& cells);
    void paintFace(QPainter& painter, const QTime& time);
    void drawBevel(QPainter& painter, QRect& rect, Bevel bevel);
    void rememberDrawn(const QTime& time);
    void checkAlarm(const QTime& time);
    void reevaluateAlarmArmed();
    void fitFont();
    void readSeparator();

    const Clock& m_clock;
    RxTimer* m_ticker;
    bool m_autoSize = false;
    ShowMode m_showMode = scDigital;
    bool m_twelveHour = false;
    bool m_leadingZero = true;
    bool m_showSeconds = true;
    bool m_alarmEnabled = false;
    quint8 m_alarmHour = 0;
    quint8 m_alarmMinute = 0;
    quint8 m_alarmSecond = 0;
    QColor m_dotsColor{0, 128, 128};
    bool m_alarmArmed = true;
    // What the cells on screen show: hour modulo 12, minute, second.
    int m_drawnHour = 0;
    int m_drawnMinute = 0;
    int m_drawnSecond = 0;
    GetTimeHandler m_onGetTime;
    AlarmHandler m_onAlarm;

    Bevel m_bevelOuter = bvRaised;
    Bevel m_bevelInner = bvLowered;
    int m_bevelWidth = 1;
    int m_borderWidth = 0;
    BorderStyle m_borderStyle = bsNone;
    QColor m_color;
    std::function<QChar()> m_separatorSource;
    QChar m_separator{u':'};
    bool m_fitting = false;

    // Set while a tick repaints: the paint event then draws from the tick's time reading,
    // and only the tick's cells when that is all it was asked to repaint.
    struct TickPaint
    {
        bool active = false;
        QTime time;
        QList<int> cells;
        QRegion region;
    } m_tickPaint;

    QList<int> m_lastPaintedCells;
    bool m_lastPaintFull = false;
    QRegion m_lastPaintRegion;
    int m_fullPaints = 0;
    int m_partialPaints = 0;
    QString m_shownText;
    QPointer<QWidget> m_watchedWindow;
};
