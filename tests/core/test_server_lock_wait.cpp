// A swipe waiting for another terminal's lock on the same employee: the server gives up
// the wait itself, before the terminal's own bound on an answer, so that the failure is
// the server's (its session stays usable) and not a connection the terminal had to drop.
// Against a real throwaway PostgreSQL server.

#include "attendance/CardSwipe.h"
#include "platform/ServerUnreachable.h"
#include "query/CommFunc.h"
#include "query/Statements.h"
#include "query/Transaction.h"
#include "support/ManualClock.h"
#include "support/ServerSuite.h"
#include "support/TerminalQueries.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class ServerLockWait : public ServerSuite
{
};

TEST_F(ServerLockWait, TheServerGivesUpTheWaitWithinTheTerminalsBound)
{
    for (const int boundMs : {1000, 3000}) {
        SCOPED_TRACE(testing::Message() << "bound " << boundMs << " ms");
        TestSupport::TerminalQueries terminal(CommFunc::MakeServerConnStr(conninfo()));
        terminal.connection.setNetworkTimeout(boundMs);
        terminal.load();
        const QString num = terminal.employees.fieldAsString(Statements::kNum);
        ManualClock clock;

        // Another terminal in the middle of a swipe of the same employee.
        TestSupport::TerminalQueries other(CommFunc::MakeServerConnStr(conninfo()));
        other.load();
        auto held = std::make_unique<Transaction>(other.connection, num);

        try {
            CardSwipe::attempt(&terminal.employees, terminal.records, clock);
            ADD_FAILURE() << "recorded while another terminal held the employee's lock";
        } catch (const ServerUnreachable& e) {
            // The server's own words for its lock_timeout: its wait ended first.
            EXPECT_TRUE(e.message().contains(QStringLiteral("lock timeout"))) << e.message().toStdString();
        }
        EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("0"));

        // Once the other swipe is over, the same session records.
        held.reset();
        EXPECT_EQ(CardSwipe::attempt(&terminal.employees, terminal.records, clock).kind,
                  SwipeOutcome::Kind::Recorded);
        EXPECT_EQ(psql(QStringLiteral("SELECT count(*) FROM sgdjb")), QStringLiteral("1"));
        psql(QStringLiteral("DELETE FROM sgdjb"));
    }
}

} // namespace
