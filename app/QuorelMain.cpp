#include "app/QuorelMain.h"

#include "app/CaptionOnlyFrame.h"
#include "app/CardPanel.h"
#include "app/EmployeeGrid.h"
#include "app/ErrorReporter.h"
#include "app/NumberEdit.h"
#include "app/SimpleStatusBar.h"
#include "app/TerminalClock.h"
#include "app/TroubleLine.h"
#include "attendance/AttendanceTerminal.h"
#include "controls/RxClock.h"
#include "platform/AppSettings.h"
#include "platform/QueryStateError.h"
#include "platform/SearchKey.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/CommFunc.h"
#include "query/DataSource.h"
#include "query/Statements.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {

QFont songFont(int pixelHeight, bool bold = false)
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    // At 12 pixels the Song face is drawn from its bitmap strike, crisp and dark, as the
    // desktop the terminal imitates shows it; smoothed outlines come out faint and grey.
    font.setStyleStrategy(pixelHeight == 12 ? QFont::NoAntialias : QFont::PreferDefault);
    return font;
}

} // namespace

TQuorelMainForm::TQuorelMainForm(const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_clock(clock)
{
    setObjectName(QStringLiteral("QuorelMainForm"));
    setWindowTitle(tr("【Tavelo】模拟考勤机"));
    setFont(songFont(12));
    setFixedSize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);

    // Nothing here touches the database: a missing or broken one cannot stop the start.
    ADOConnectionYg = new AdoConnection(this);
    ADOConnectionYg->setObjectName(QStringLiteral("ADOConnectionYg"));
    ADOConnectionYg->setLoginPrompt(false);
    ADOConnectionYg->setMode(AdoConnection::Mode::ReadWrite);
    ADOConnectionYg->setCursorLocation(AdoConnection::CursorLocation::Client);
    YgQry = new AdoQuery(QStringLiteral("YgQry"), this);
    YgQry->setObjectName(QStringLiteral("YgQry"));
    YgQry->setConnection(ADOConnectionYg);
    YgQry->sqlAdd(Statements::kDefaultEmployQuery);
    DSYg = new DataSource(this);
    DSYg->setObjectName(QStringLiteral("DSYg"));
    DSYg->setDataSet(YgQry);
    RecordQry = new AdoQuery(QStringLiteral("RecordQry"), this);
    RecordQry->setObjectName(QStringLiteral("RecordQry"));

    createControls();

    m_frameWatch = new QTimer(this);
    m_frameWatch->setInterval(kFrameWatchMs);
    connect(m_frameWatch, &QTimer::timeout, this, [this] {
        recentreOnKnownFrame();
        if (++m_frameWatchTicks >= kFrameWatchTicks)
            m_frameWatch->stop();
    });

    // The layout is drawn for a window font whose "0" stands 12 pixels high. A face of
    // another height (a different substitute for the Song face) scales every position,
    // size and font alike; a display of another density Qt scales by itself.
    const int textHeight = QFontMetrics(font()).height();
    if (textHeight > 0 && textHeight != kDesignTextHeight)
        scaleLayout(double(textHeight) / kDesignTextHeight);
}

void TQuorelMainForm::scaleLayout(double factor)
{
    const auto scaled = [factor](int value) { return int(std::lround(value * factor)); };
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QRect g = child->geometry();
        child->setGeometry(scaled(g.x()), scaled(g.y()), scaled(g.width()), scaled(g.height()));
        QFont f = child->font();
        if (f.pixelSize() > 0) {
            f.setPixelSize(scaled(f.pixelSize()));
            child->setFont(f);
        }
    }
    if (QHeaderView* header = DBGridYg->horizontalHeader(); header->font().pixelSize() > 0) {
        QFont f = header->font();
        f.setPixelSize(scaled(f.pixelSize()));
        header->setFont(f);
    }
    m_statusHeight = scaled(m_statusHeight);
    setFixedSize(scaled(kClientWidth), scaled(kClientHeight));
    StatusLine->setGeometry(0, height() - m_statusHeight, width(), m_statusHeight);
}

TQuorelMainForm::~TQuorelMainForm()
{
    // When the session ends without a close request the close sequence runs here, so the
    // queries still let go before their connection.
    FormClose(this);
}

void TQuorelMainForm::createControls()
{
    StatusLine = new SimpleStatusBar(this);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    StatusLine->setFont(QGuiApplication::font());
    StatusLine->setGeometry(0, 418, 589, 23);
    StatusLine->setFocusPolicy(Qt::NoFocus);

    DBGridYg = new EmployeeGrid(this);
    DBGridYg->setObjectName(QStringLiteral("DBGridYg"));
    DBGridYg->setGeometry(8, 8, 209, 401);
    DBGridYg->horizontalHeader()->setFont(songFont(12));
    DBGridYg->setDataSource(DSYg);
    DBGridYg->setKeyDownHandler([this](QObject* sender, quint16& key, Qt::KeyboardModifiers shift) {
        FormKeyDown(sender, key, shift);
    });
    DBGridYg->setDeleteHandler([this](AdoQuery& employees) {
        if (m_terminal)
            m_terminal->deleteCurrent(employees);
        else
            employees.deleteCurrent();
    });

    RxClockHT = new RxClock(this, m_clock);
    TerminalClock::configure(*RxClockHT);

    ButtonPower = new QPushButton(tr("电源关"), this);
    ButtonPower->setObjectName(QStringLiteral("ButtonPower"));
    ButtonPower->setGeometry(368, 384, 75, 25);
    ButtonPower->setAutoDefault(true); // Enter on the focused button presses it
    ButtonPower->setFocusPolicy(Qt::StrongFocus);
    connect(ButtonPower, &QPushButton::clicked, this, [this] { ButtonPowerClick(ButtonPower); });

    PanelCard = new CardPanel(this);
    PanelCard->setObjectName(QStringLiteral("PanelCard"));
    PanelCard->setGeometry(232, 96, 345, 209);
    PanelCard->setCaption(tr("读卡区"));
    PanelCard->setFont(songFont(24, true));
    QPalette cardPalette = PanelCard->palette();
    cardPalette.setColor(QPalette::Window, QColor(0, 0, 128));
    cardPalette.setColor(QPalette::WindowText, Qt::white);
    PanelCard->setPalette(cardPalette);
    PanelCard->setHint(tr("点击这里，或按下回车键表示刷卡"));
    connect(PanelCard, &CardPanel::clicked, this, [this] { PanelCardClick(PanelCard); });

    EditYg = new NumberEdit(this);
    EditYg->setObjectName(QStringLiteral("EditYg"));
    EditYg->setGeometry(232, 352, 345, 20);
    EditYg->setFocusPolicy(Qt::StrongFocus);
    EditYg->setKeyDownHandler([this](QObject* sender, quint16& key, Qt::KeyboardModifiers shift) {
        FormKeyDown(sender, key, shift);
    });
    EditYg->setKeyUpHandler([this](QObject* sender, quint16& key, Qt::KeyboardModifiers shift) {
        EditYgKeyUp(sender, key, shift);
    });

    OfflineLine = new TroubleLine(this);
    OfflineLine->setObjectName(QStringLiteral("OfflineLine"));
    // The whole gap between the card area and the number box: a path may need two lines.
    OfflineLine->setGeometry(232, 307, 345, 42);

    QWidget::setTabOrder(DBGridYg, ButtonPower);
    QWidget::setTabOrder(ButtonPower, EditYg);
    DBGridYg->setFocus(Qt::OtherFocusReason);
}

void TQuorelMainForm::showAs(StartupInfo::ShowCommand command)
{
    switch (command) {
    case StartupInfo::ShowCommand::Maximized:
        setMinimumSize(size());
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        showMaximized();
        break;
    case StartupInfo::ShowCommand::MinimizedNoActivate:
        setAttribute(Qt::WA_ShowWithoutActivating);
        showMinimized();
        break;
    case StartupInfo::ShowCommand::Normal:
        show();
        break;
    }
}

void TQuorelMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // The native window exists but is not mapped yet: the window manager reads the title
    // bar hints when it maps it.
    CaptionOnlyFrame::apply(windowHandle(), minimumSize() != maximumSize());
    // Placement first: an error escaping the show sequence must not leave the window
    // somewhere other than centred.
    placeOnScreen();
    FormShow(this);
}

void TQuorelMainForm::placeOnScreen()
{
    if (m_placed || isMaximized() || windowState().testFlag(Qt::WindowMaximized))
        return;
    m_placed = true;
    centre();
    m_frameWatchTicks = 0;
    m_frameWatch->start();
}

void TQuorelMainForm::recentreOnKnownFrame()
{
    if (!m_placed || !m_frameWatch->isActive() || isMaximized() || isMinimized())
        return;
    const QSize outer = outerSize();
    if (outer != m_placedOuter)
        centre();
    // Once the frame is drawn around the client area its size is known for good.
    if (outer != size())
        m_frameWatch->stop();
}

void TQuorelMainForm::centre()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QSize screenSize = screen->geometry().size();
    m_placedOuter = outerSize();
    const QPoint topLeft((screenSize.width() - m_placedOuter.width()) / 2,
                         (screenSize.height() - m_placedOuter.height()) / 2);
    if (QWindow* handle = windowHandle(); handle && isVisible())
        handle->setFramePosition(topLeft);
    else
        move(topLeft);
}

QSize TQuorelMainForm::outerSize() const
{
    // The widget's own frame geometry is updated only when the window moves; the platform
    // window asks the window manager each time.
    if (const QWindow* handle = windowHandle(); handle && isVisible())
        return handle->frameGeometry().size();
    return frameGeometry().size();
}

bool TQuorelMainForm::event(QEvent* event)
{
    // Before the first show a window manager has not told the size of its frame yet, and it
    // may tell it after the window is active; whenever the outer size turns out different
    // from the one the window was centred on, it is centred again.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Move)
        recentreOnKnownFrame();
    return QWidget::event(event);
}

void TQuorelMainForm::FormShow(QObject*)
{
    ErrorReporter::guard([this] { showForm(); });
}

void TQuorelMainForm::showForm()
{
    // A database named on the command line or in the settings, else kq.mdb in the folder
    // the attendance software publishes.
    DatabaseTarget target = DatabaseTarget::chosen(m_databaseOption);
    if (target.isNone())
        target =
            DatabaseTarget::file(AppSettings::GetMdbDir() + QDir::separator() + QStringLiteral("kq.mdb"));
    CommFunc::OpenDbConnection(ADOConnectionYg, target);
    YgQry->setConnection(ADOConnectionYg);
    RecordQry->setConnection(ADOConnectionYg);
    DSYg->setDataSet(YgQry);
    DBGridYg->setDataSource(DSYg);
    // A server text that cannot be used leaves the connection without one: its terminal is
    // a file's, whose swipes fail visibly.
    m_terminal = AttendanceTerminal::forConnection(*ADOConnectionYg, target.filePath(), m_clock);
    connect(m_terminal.get(), &AttendanceTerminal::stateChanged, OfflineLine, &TroubleLine::showState);
    connect(m_terminal.get(), &AttendanceTerminal::refusedChanged, OfflineLine, &TroubleLine::showRefused);
    connect(m_terminal.get(), &AttendanceTerminal::lastingTroubleChanged, OfflineLine,
            &TroubleLine::setLastingTrouble);
    // Only the settings can hold a server text libpq cannot read (the command line
    // refuses one): the error box says so without quoting it.
    if (!target.isValid())
        throw QueryStateError(target.problem());
    m_terminal->loadEmployees(YgQry);
    // The number search order is built once the window is up, not inside the operator's
    // first key release.
    QTimer::singleShot(0, this, [this] {
        ErrorReporter::guard([this] {
            if (YgQry->isOpen() && YgQry->fieldIndex(Statements::kNum) >= 0)
                YgQry->prepareLocate(Statements::kNum);
        });
    });
}

void TQuorelMainForm::FormClose(QObject*)
{
    YgQry->close();
    RecordQry->close();
    ADOConnectionYg->close();
}

void TQuorelMainForm::closeEvent(QCloseEvent* event)
{
    // Refused until the close sequence has run through: an error in it leaves the
    // window open.
    event->ignore();
    if (ErrorReporter::guard([this] { FormClose(this); }))
        event->accept();
}

void TQuorelMainForm::ButtonPowerClick(QObject*)
{
    ErrorReporter::guard([this] { close(); });
}

void TQuorelMainForm::keyPressEvent(QKeyEvent* event)
{
    // The window's own key-down binding fires only while no control has the focus.
    if (focusWidget() == nullptr || focusWidget() == this) {
        quint16 key = virtualKeyOf(event);
        FormKeyDown(this, key, event->modifiers());
        // The digit that brought the focus to the number box is typed there.
        if (focusWidget() == EditYg) {
            QCoreApplication::sendEvent(EditYg, event);
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void TQuorelMainForm::FormKeyDown(QObject* sender, quint16& key, Qt::KeyboardModifiers)
{
    ErrorReporter::guard([&] {
        if (key == VirtualKey::Return || key == VirtualKey::Tab) {
            PanelCardClick(sender);
        } else if (key >= VirtualKey::End && key <= VirtualKey::Down) {
            if (!DBGridYg->hasFocus())
                DBGridYg->setFocus(Qt::ShortcutFocusReason);
        } else if ((key >= VirtualKey::Numpad0 && key <= VirtualKey::Numpad9) ||
                   (key >= VirtualKey::Digit0 && key <= VirtualKey::Digit9)) {
            if (!EditYg->hasFocus())
                EditYg->setFocus(Qt::ShortcutFocusReason);
        }
    });
}

void TQuorelMainForm::EditYgKeyUp(QObject*, quint16&, Qt::KeyboardModifiers)
{
    ErrorReporter::guard([this] {
        if (YgQry->locate(Statements::kNum, SearchKey::fromText(EditYg->text())))
            DBGridYg->centreOnRow(YgQry->recNo());
    });
}

void TQuorelMainForm::PanelCardClick(QObject*)
{
    ErrorReporter::guard([this] { swipeCard(); });
}

void TQuorelMainForm::swipeCard()
{
    // Without a terminal (the show sequence failed before making one) there is nobody to
    // swipe for, and the swipe says so like any other that records nothing.
    const SwipeOutcome outcome = m_terminal ? m_terminal->swipe(DSYg->dataSet(), *RecordQry) : SwipeOutcome();
    // A failure replaces the previous success, which the next person would take for theirs,
    // and the red line says why until a swipe is recorded again.
    if (const QString status = AttendanceTerminal::statusLine(outcome); !status.isEmpty())
        StatusLine->setText(status);
    // With nobody to swipe for, a start failure on the red line is the reason, and stays.
    if (AttendanceTerminal::hadNobodyToSwipe(outcome) && !OfflineLine->lastingTrouble().isEmpty())
        return;
    if (outcome.kind != SwipeOutcome::Kind::AlreadyRecorded)
        OfflineLine->setSwipeTrouble(AttendanceTerminal::swipeTrouble(outcome));
}

void TQuorelMainForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Maximised, the controls keep their places and the status line stays along the
    // bottom edge.
    StatusLine->setGeometry(0, height() - m_statusHeight, width(), m_statusHeight);
}
