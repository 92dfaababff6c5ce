#include "support/PgTestServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

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
    PgTestServer server(PgTestServer::Options{true, {}});
    EXPECT_EQ(server.psql(QStringLiteral("SELECT current_user")), server.superuser());
    EXPECT_EQ(server.psql(QStringLiteral("SHOW password_encryption")), QStringLiteral("scram-sha-256"));
}

// A test killed outright cannot run its destructors; the server and its folder must still
// go, or every ctest timeout leaves a postgres behind.
TEST(PgTestServer, GoesAwayWhenItsTestProcessIsKilled)
{
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        try {
            PgTestServer server;
            const QByteArray dir = server.socketDir().toLocal8Bit() + '\n';
            if (write(channel[1], dir.constData(), size_t(dir.size())) != dir.size())
                _exit(3);
            pause();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
        }
        _exit(2);
    }
    close(channel[1]);
    std::string dir;
    char c = 0;
    while (read(channel[0], &c, 1) == 1 && c != '\n')
        dir += c;
    close(channel[0]);
    ASSERT_FALSE(dir.empty()) << "the child could not start its server";
    const QString folder = QString::fromStdString(dir);
    ASSERT_TRUE(QFileInfo::exists(folder + QStringLiteral("/data/postmaster.pid")));

    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    QElapsedTimer waited;
    waited.start();
    while (QFileInfo::exists(folder) && waited.elapsed() < 20000)
        QThread::msleep(100);
    EXPECT_FALSE(QFileInfo::exists(folder)) << "server folder " << dir << " left behind";
    // No server process still serves that folder.
    bool serving = false;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) &&
            cmdline.readAll().contains(QByteArray(dir.c_str()) + "/data"))
            serving = true;
    }
    EXPECT_FALSE(serving);
}
