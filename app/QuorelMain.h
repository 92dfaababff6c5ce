#pragma once

#include "query/DatabaseTarget.h"
#include "platform/gui/StartupInfo.h"

#include <QWidget>

#include <memory>

class AdoConnection;
class AttendanceTerminal;
class AdoQuery;
class CardPanel;
class Clock;
class DataSource;
class EmployeeGrid;
class NumberEdit;
class TroubleLine;
class QPushButton;
class QTimer;
class RxClock;
class SimpleStatusBar;

// The terminal window: the employee list, the clock, the card reading area, the number
// box, the power button and the status line, with the database members behind them.
// The handlers keep the names the rest of the system refers to them by.
class TQuorelMainForm : public QWidget
{
    Q_OBJECT
public:
    explicit TQuorelMainForm(const Clock& clock, QWidget* parent = nullptr);
    ~TQuorelMainForm() override;

    // Shows the window the way the program was started: normal, maximised or minimised.
    void showAs(StartupInfo::ShowCommand command);
    // The database the command line names; it wins over the settings. None (the
    // default) leaves the choice to them.
    void setDatabaseOption(const DatabaseTarget& target) { m_databaseOption = target; }

    void FormShow(QObject* sender);
    void FormClose(QObject* sender);
    void FormKeyDown(QObject* sender, quint16& key, Qt::KeyboardModifiers shift);
    void EditYgKeyUp(QObject* sender, quint16& key, Qt::KeyboardModifiers shift);
    void PanelCardClick(QObject* sender);
    void ButtonPowerClick(QObject* sender);

    static constexpr int kClientWidth = 589;
    static constexpr int kClientHeight = 441;
    // Text height of "0" in the window font that the layout's figures are drawn for.
    static constexpr int kDesignTextHeight = 12;

    // Members by their names in the window definition.
    SimpleStatusBar* StatusLine;
    EmployeeGrid* DBGridYg;
    RxClock* RxClockHT;
    QPushButton* ButtonPower;
    CardPanel* PanelCard;
    NumberEdit* EditYg;
    AdoConnection* ADOConnectionYg;
    AdoQuery* YgQry;
    DataSource* DSYg;
    AdoQuery* RecordQry;
    // Under the card reading area: the trouble line, shown while something goes wrong (the
    // database, a swipe, the local store) or the server cannot be reached or swipes wait.
    TroubleLine* OfflineLine;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createControls();
    void placeOnScreen();
    void centre();
    void recentreOnKnownFrame();
    QSize outerSize() const;
    void scaleLayout(double factor);
    void showForm();
    void swipeCard();

    const Clock& m_clock;
    DatabaseTarget m_databaseOption;
    bool m_placed = false;
    QSize m_placedOuter;
    // Watches the frame for a while after the first show: the window manager may report
    // its size after every event that could tell of it has passed, and Qt signals nothing.
    QTimer* m_frameWatch;
    int m_frameWatchTicks = 0;
    static constexpr int kFrameWatchMs = 100;
    static constexpr int kFrameWatchTicks = 50;
    int m_statusHeight = 23;
    // The way to attendance for the database chosen at show: loading the list, swiping,
    // deleting, and what the trouble line says about it.
    std::unique_ptr<AttendanceTerminal> m_terminal;
};
