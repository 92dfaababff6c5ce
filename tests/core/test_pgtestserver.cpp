#include "support/PgTestServer.h"

#include <QFileInfo>

#include <gtest/gtest.h>

// The throwaway server other tests stand on: it answers on its socket only, keeps its data
// across stop/start, and refuses a login without the password when one is required.
TEST(PgTestServer, AnswersOnItsSocketAndKeepsDataAcrossRestart)
{
    PgTestServer server;
    EXPECT_TRUE(QFileInfo::exists(server.socketDir() + QStringLiteral("/.s.PGSQL.%1").arg(server.port())));
    EXPECT_EQ(server.psql(QStringLiteral("SHOW listen_addresses")), QString());
    server.psql(QStringLiteral("CREATE TABLE t (v text); INSERT INTO t VALUES ('kept')"));
    server.stop();
    EXPECT_THROW(server.psql(QStringLiteral("SELECT 1")), std::runtime_error);
    server.start();
    EXPECT_EQ(server.psql(QStringLiteral("SELECT v FROM t")), QStringLiteral("kept"));
}

TEST(PgTestServer, PasswordRequiredWhenAsked)
{
    PgTestServer server(PgTestServer::Options{true});
    EXPECT_EQ(server.psql(QStringLiteral("SELECT current_user")), server.superuser());
    EXPECT_EQ(server.psql(QStringLiteral("SHOW password_encryption")), QStringLiteral("scram-sha-256"));
}
