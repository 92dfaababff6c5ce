#include "db/CardSwipe.h"

#include "db/AdoConnection.h"
#include "db/AdoQuery.h"
#include "db/Statements.h"
#include "db/Transaction.h"
#include "platform/Clock.h"
#include "platform/DateTimeText.h"
#include "platform/EDatabaseError.h"

namespace {

void setStatement(AdoQuery& query, const QString& text)
{
    query.close();
    query.sqlClear();
    query.sqlAdd(text);
}

bool hasCurrentEmployee(const AdoQuery* employees)
{
    return employees && employees->isOpen() && !employees->isEmpty() && employees->recNo() >= 0;
}

void closeQuietly(AdoQuery& query)
{
    try {
        query.close();
    } catch (...) {
    }
}

SwipeOutcome swipe(AdoQuery& employees, AdoQuery& recordQry, const Clock& clock)
{
    // A nameless row would be an attendance record nobody can be matched to.
    if (employees.fieldAsString(Statements::kNum).isEmpty())
        return {};

    AdoConnection* connection = recordQry.connection();
    if (!connection)
        throw EDatabaseError(QStringLiteral("%1: missing connection").arg(recordQry.name()));

    // Terminals sharing one database could otherwise both find no record and both insert:
    // the lock for this employee is taken before the test and held until the insert is
    // committed.
    Transaction transaction(*connection, employees.fieldAsString(Statements::kNum));

    setStatement(recordQry, Statements::kDuplicateTest);
    recordQry.setParameter(QStringLiteral("num"), employees.fieldAsString(Statements::kNum));
    recordQry.setParameter(QStringLiteral("d1"),
                           DateTimeText::dateTime(clock.now().addSecs(-CardSwipe::kWindowSeconds)));
    recordQry.setParameter(QStringLiteral("d2"),
                           DateTimeText::dateTime(clock.now().addSecs(CardSwipe::kWindowSeconds)));
    recordQry.open();

    if (recordQry.isEmpty()) {
        setStatement(recordQry, Statements::kRecordInsert);
        recordQry.setParameter(QStringLiteral("num"), employees.fieldAsString(Statements::kNum));
        recordQry.setParameter(QStringLiteral("name"), employees.fieldAsString(Statements::kName));
        recordQry.setParameter(QStringLiteral("d"), DateTimeText::date(clock.now().date()));
        recordQry.setParameter(QStringLiteral("t"), DateTimeText::time(clock.now().time()));
        recordQry.setParameter(QStringLiteral("opdate"), Statements::kFixedOpDate);
        recordQry.execSql();
        // Committed before the text is composed: a failure from here on keeps the record.
        transaction.commit();

        return {SwipeOutcome::Kind::Recorded,
                QStringLiteral("【%1 %2】 %3 刷卡成功！")
                    .arg(employees.fieldAsString(Statements::kNum),
                         employees.fieldAsString(Statements::kName),
                         DateTimeText::dateTimeMinutes(clock.now())),
                {}};
    }

    const DateTimeValue instant =
        recordQry.fieldAsDateTime(Statements::kD) + recordQry.fieldAsDateTime(Statements::kT);
    SwipeOutcome outcome{SwipeOutcome::Kind::AlreadyRecorded,
                         QStringLiteral("【%1 %2】 %3 已刷卡")
                             .arg(recordQry.fieldAsString(Statements::kNum),
                                  recordQry.fieldAsString(Statements::kName),
                                  DateTimeText::dateTimeMinutes(instant.toDateTime())),
                         {}};
    recordQry.close();
    transaction.commit();
    return outcome;
}

} // namespace

SwipeOutcome CardSwipe::run(AdoQuery* employees, AdoQuery& recordQry, const Clock& clock)
{
    SwipeOutcome outcome;
    try {
        if (hasCurrentEmployee(employees))
            outcome = swipe(*employees, recordQry, clock);
    } catch (const std::exception& e) {
        // A failed swipe shows nothing and is not logged; the operator simply swipes again.
        outcome = {};
        outcome.errorMessage = QString::fromUtf8(e.what());
        if (outcome.errorMessage.isEmpty())
            outcome.errorMessage = QStringLiteral("unknown error");
    } catch (...) {
        outcome = {};
        outcome.errorMessage = QStringLiteral("unknown error");
    }
    closeQuietly(recordQry);
    return outcome;
}
