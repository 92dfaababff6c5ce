#include "attendance/AttendanceTerminal.h"

#include "attendance/AttendanceLink.h"
#include "attendance/FileTerminal.h"
#include "attendance/ServerSchemaCheck.h"
#include "attendance/ServerTerminal.h"
#include "attendance/TroubleText.h"
#include "log/ErrMsg.h"
#include "platform/Clock.h"
#include "platform/Exception.h"
#include "query/AdoConnection.h"
#include "query/AdoQuery.h"
#include "query/DatabaseTarget.h"
#include "query/Statements.h"

AttendanceTerminal::AttendanceTerminal(const Clock& clock, QObject* parent) : QObject(parent), m_clock(clock)
{
    m_connection = new AdoConnection(this);
    m_connection->setObjectName(QStringLiteral("ADOConnectionYg"));
    m_connection->setLoginPrompt(false);
    m_connection->setMode(AdoConnection::Mode::ReadWrite);
    m_connection->setCursorLocation(AdoConnection::CursorLocation::Client);
    // Nothing is read from or written to a server whose tables are not what the terminal
    // needs.
    m_connection->setOpenCheck(ServerSchemaCheck::run);
    m_employees = new AdoQuery(QStringLiteral("YgQry"), this);
    m_employees->setObjectName(QStringLiteral("YgQry"));
    m_employees->setConnection(m_connection);
    m_employees->sqlAdd(Statements::kDefaultEmployQuery);
    m_records = new AdoQuery(QStringLiteral("RecordQry"), this);
    m_records->setObjectName(QStringLiteral("RecordQry"));
}

AttendanceTerminal::~AttendanceTerminal() = default;

void AttendanceTerminal::open(const DatabaseTarget& target)
{
    m_way.reset();
    m_cards.clear();
    // Nothing is opened here: the list's load opens the connection.
    m_connection->prepare(target);
    m_employees->setConnection(m_connection);
    m_records->setConnection(m_connection);
    // A server may be out of reach: then the list comes from the terminal's own copy and
    // swipes wait in its outbox.
    if (auto link = AttendanceLink::forConnection(*m_connection))
        m_way = std::make_unique<ServerTerminal>(std::move(link), *m_connection, m_clock);
    else
        m_way = std::make_unique<FileTerminal>(*m_connection, target.filePath(), m_clock);
    connect(m_way.get(), &TerminalWay::stateChanged, this, &AttendanceTerminal::stateChanged);
    connect(m_way.get(), &TerminalWay::refusedChanged, this, &AttendanceTerminal::refusedChanged);
    connect(m_way.get(), &TerminalWay::lastingTroubleChanged, this,
            &AttendanceTerminal::lastingTroubleChanged);
    connect(m_way.get(), &TerminalWay::listWanted, this, &AttendanceTerminal::reloadEmployees);
}

void AttendanceTerminal::reloadEmployees()
{
    const QString num = currentNumber();
    try {
        loadEmployees();
    } catch (const Exception& error) {
        // Not the operator's doing: the log has it, and the line says what the list is.
        try {
            ErrMsg::LogFailure(QStringLiteral("loading the employee list again"), error);
        } catch (const Exception&) {
        }
    }
    if (!num.isEmpty())
        select(num);
}

void AttendanceTerminal::loadEmployees()
{
    if (m_way)
        m_way->loadEmployees(m_employees, m_cards);
}

QString AttendanceTerminal::currentNumber() const
{
    try {
        if (m_employees->isOpen() && !m_employees->isEmpty() && m_employees->recNo() >= 0)
            return m_employees->fieldAsString(Statements::kNum);
    } catch (const Exception&) {
        // A list without numbers: the swipe itself says so.
    }
    return {};
}

bool AttendanceTerminal::select(const QString& num)
{
    try {
        if (!m_employees->isOpen())
            return false;
        const int column = m_employees->fieldIndex(Statements::kNum);
        if (column < 0)
            return false;
        for (int row = 0; row < m_employees->recordCount(); ++row) {
            if (m_employees->valueAsString(row, column) == num) {
                m_employees->setRecNo(row);
                return true;
            }
        }
    } catch (const Exception&) {
    }
    return false;
}

SwipeOutcome AttendanceTerminal::swipe(const QString& num)
{
    if (!m_way)
        return {};
    // The window names the employee it shows as current; another number is looked for, and
    // a number nobody in the list has records nobody, never the current employee instead.
    if (currentNumber() != num && !select(num))
        return {};
    return m_way->swipe(m_employees, *m_records);
}

SwipeOutcome AttendanceTerminal::swipeCard(const QString& card, bool boxOpen)
{
    // Checked before the card is looked up: the operator has a box to answer first, and
    // the key that would answer it was the reader's.
    if (boxOpen)
        return refuseCard(card, TroubleText::cardWhileBoxOpen(card),
                          QStringLiteral("The card %1 was read while a message box was open; nobody was "
                                         "recorded.")
                              .arg(card));
    const std::optional<QString> holder = m_cards.holderOf(card);
    if (!holder)
        return refuseCard(
            card, TroubleText::unknownCard(card),
            QStringLiteral("The card %1 belongs to no employee; nobody was recorded.").arg(card));
    if (!select(*holder))
        return refuseCard(card, TroubleText::cardHolderGone(card),
                          QStringLiteral("The card %1 belongs to employee %2, who is not in the list; nobody "
                                         "was recorded.")
                              .arg(card, *holder));
    return swipe(*holder);
}

SwipeOutcome AttendanceTerminal::refuseCard(const QString& card, const QString& reason,
                                            const QString& logMessage)
{
    SwipeOutcome outcome;
    outcome.errorMessage = logMessage;
    outcome.reason = reason;
    outcome.instant = m_clock.now();
    // The status line must not keep the previous person's success for this card's holder
    // to take for theirs.
    outcome.failedText = TroubleText::failedCard(card, outcome.instant);
    try {
        ErrMsg::LogFailure(QStringLiteral("card %1").arg(card), Exception(logMessage));
    } catch (const Exception&) {
        // The log itself failed: the window says it all the same.
    }
    return outcome;
}

void AttendanceTerminal::deleteCurrent()
{
    // A server's list read from the local copy is a snapshot the query itself refuses to
    // delete from; otherwise the row goes from the database the list came from.
    m_employees->deleteCurrent();
}

void AttendanceTerminal::close()
{
    m_employees->close();
    m_records->close();
    m_connection->close();
}

QString AttendanceTerminal::statusLine(const SwipeOutcome& outcome)
{
    // A swipe that recorded nothing says so, also when there was nobody to swipe for: a key
    // that asked the terminal to act never leaves the screen as it was.
    if (outcome.failed() || outcome.kind == SwipeOutcome::Kind::Nothing)
        return outcome.failedText.isEmpty() ? TroubleText::failedSwipe() : outcome.failedText;
    return outcome.statusText;
}

QString AttendanceTerminal::swipeTrouble(const SwipeOutcome& outcome)
{
    if (outcome.failed())
        return TroubleText::swipeTrouble(outcome.reason);
    if (outcome.kind == SwipeOutcome::Kind::Nothing)
        return TroubleText::swipeTrouble(TroubleText::noEmployeeReason());
    return {};
}

bool AttendanceTerminal::hadNobodyToSwipe(const SwipeOutcome& outcome)
{
    return !outcome.failed() && outcome.kind == SwipeOutcome::Kind::Nothing;
}

QString AttendanceTerminal::stateText(bool offline, int waiting, int refused)
{
    return TroubleText::serverState(offline, waiting, refused);
}
