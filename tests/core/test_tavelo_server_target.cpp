// The real terminal and kqdb pointed at a throwaway PostgreSQL server that wants a
// password: --database and the settings value reach it, and a start that fails (wrong
// password, unknown host) leaves exactly one error-log line with no password in it.
#include "support/PgTestServer.h"
#include "support/TerminalProcess.h"
#include "support/ToolRun.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

namespace {

using TestSupport::logLineCount;
using TestSupport::TerminalProcess;

const QString kKqdb = QStringLiteral(TAVELO_BIN_DIR "/kqdb");
const QString kWrongPassword = QStringLiteral("Wr0ng-S3cr3t");

class TaveloServerTargetTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = new PgTestServer(PgTestServer::Options{true, {}});
        QProcess kqdb;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGPASSWORD"), QString::fromLatin1(PgTestServer::kSuperuserPassword));
        kqdb.setProcessEnvironment(env);
        kqdb.start(kKqdb, {QStringLiteral("create"), s_server->conninfo(), QStringLiteral("--demo")});
        ASSERT_TRUE(kqdb.waitForFinished(60000));
        ASSERT_EQ(kqdb.exitCode(), 0) << kqdb.readAllStandardError().constData();
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(s_server, nullptr);
        m_terminal.environment().remove(QStringLiteral("PGPASSWORD"));
    }

    void usePassword()
    {
        m_terminal.environment().insert(QStringLiteral("PGPASSWORD"), PgTestServer::kSuperuserPassword);
    }

    // Sessions on the database other than the asking one: the terminal keeps its
    // connection open while its window is up.
    static int otherSessions()
    {
        return s_server
            ->psql(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = 'kq' AND "
                                  "backend_type = 'client backend' AND pid <> pg_backend_pid()"))
            .toInt();
    }

    static void expectNoPassword(const QByteArray& text)
    {
        EXPECT_FALSE(text.contains(kWrongPassword.toUtf8())) << text.constData();
        EXPECT_FALSE(text.contains(PgTestServer::kSuperuserPassword)) << text.constData();
    }

    // One start that must fail at the server: one log line, without the password.
    void expectOneLineWithoutPassword(const QStringList& args)
    {
        m_terminal.removeErrorLog();
        const TerminalProcess::Run run = m_terminal.runUntilLogged(args);
        EXPECT_TRUE(run.stayedUp);
        const QByteArray log = m_terminal.errorLog();
        EXPECT_EQ(logLineCount(log), 1) << args.join(u' ').toStdString() << "\n" << log.constData();
        EXPECT_TRUE(log.contains("<< SELECT * FROM employ >>")) << log.constData();
        expectNoPassword(log);
        expectNoPassword(run.out.toUtf8() + run.err.toUtf8());
    }

    static PgTestServer* s_server;
    TerminalProcess m_terminal;
};

PgTestServer* TaveloServerTargetTest::s_server = nullptr;

TEST_F(TaveloServerTargetTest, DatabaseOptionReachesTheServer)
{
    usePassword();
    bool seen = false;
    const TerminalProcess::Run run =
        m_terminal.runUntil({QStringLiteral("--database"), s_server->conninfo()}, [&seen] {
            seen = otherSessions() > 0;
            return seen;
        });
    EXPECT_TRUE(seen) << run.err.toStdString();
    EXPECT_TRUE(run.stayedUp);
    EXPECT_EQ(m_terminal.errorLog(), QByteArray());
}

TEST_F(TaveloServerTargetTest, SettingsValueReachesTheServer)
{
    usePassword();
    m_terminal.writeSettings("[Software/Tavelo]\ndatabase=" + s_server->uri().toUtf8() + "\n");
    bool seen = false;
    const TerminalProcess::Run run = m_terminal.runUntil({}, [&seen] {
        seen = otherSessions() > 0;
        return seen;
    });
    EXPECT_TRUE(seen) << run.err.toStdString();
    EXPECT_TRUE(run.stayedUp);
    EXPECT_EQ(m_terminal.errorLog(), QByteArray());
}

TEST_F(TaveloServerTargetTest, WrongPasswordLeavesOneLineWithoutIt)
{
    const QString keywordValue = s_server->conninfo() + QStringLiteral(" password=") + kWrongPassword;
    expectOneLineWithoutPassword({QStringLiteral("--database"), keywordValue});

    QString uri = s_server->uri();
    uri.replace(s_server->superuser() + u'@', s_server->superuser() + u':' + kWrongPassword + u'@');
    ASSERT_TRUE(uri.contains(kWrongPassword));
    expectOneLineWithoutPassword({QStringLiteral("--database"), uri});

    // The same from the settings, and with the password in PGPASSWORD instead.
    m_terminal.writeSettings("[Software/Tavelo]\ndatabase=" + keywordValue.toUtf8() + "\n");
    expectOneLineWithoutPassword({});
    m_terminal.environment().insert(QStringLiteral("PGPASSWORD"), kWrongPassword);
    expectOneLineWithoutPassword({QStringLiteral("--database"), s_server->conninfo()});
}

TEST_F(TaveloServerTargetTest, UnknownHostLeavesOneLineWithoutThePassword)
{
    expectOneLineWithoutPassword(
        {QStringLiteral("--database"),
         QStringLiteral("host=no-such-host.invalid dbname=kq connect_timeout=5 password=") + kWrongPassword});
}

TEST_F(TaveloServerTargetTest, KqdbPrintsNoPassword)
{
    const QString target = s_server->conninfo() + QStringLiteral(" password=") + kWrongPassword;
    const TestSupport::ToolRun swipe =
        TestSupport::runKqdb({QStringLiteral("swipe"), target, QStringLiteral("0101")});
    EXPECT_NE(swipe.exitCode, 0);
    EXPECT_FALSE(swipe.err.isEmpty());
    expectNoPassword(swipe.out + swipe.err);

    // A create that works says where it created, without the password that let it in.
    s_server->createDatabase(QStringLiteral("kqcreate"));
    const TestSupport::ToolRun create =
        TestSupport::runKqdb({QStringLiteral("create"),
                              s_server->conninfo(QStringLiteral("kqcreate")) + QStringLiteral(" password=") +
                                  QString::fromLatin1(PgTestServer::kSuperuserPassword),
                              QStringLiteral("--employees"), QStringLiteral("3")});
    EXPECT_EQ(create.exitCode, 0) << create.err.constData();
    EXPECT_TRUE(create.out.contains("3 employees")) << create.out.constData();
    expectNoPassword(create.out + create.err);
}

} // namespace
