// A password written into a TARGET on the command line does not stay readable in the
// process list: the running terminal's /proc/PID/cmdline holds stars in its place.

#include "query/ArgumentPasswords.h"
#include "support/TerminalProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string hidden(std::string argument)
{
    ArgumentPasswords::hideIn(argument.data());
    return argument;
}

TEST(ArgumentPasswords, ThePasswordOfATargetIsStarredInEveryForm)
{
    EXPECT_EQ(hidden("host=db dbname=kq password=Hunter2 user=t"),
              "host=db dbname=kq password=******* user=t");
    EXPECT_EQ(hidden("host=db password='it\\'s a secret'"),
              "host=db password='" + std::string(14, '*') + "'");
    EXPECT_EQ(hidden("--database=postgresql://t:p%40ss@db/kq"), "--database=postgresql://t:******@db/kq");
    // An escape written another way than the usual: the whole TARGET goes.
    const std::string odd = hidden("postgresql://t:%70ass@db/kq");
    EXPECT_EQ(odd.find("%70ass"), std::string::npos) << odd;
    EXPECT_EQ(odd, std::string(odd.size(), '*'));
    // Nothing to hide.
    EXPECT_EQ(hidden("host=db dbname=kq"), "host=db dbname=kq");
    EXPECT_EQ(hidden("/srv/password=Hunter2/kq.mdb"), "/srv/password=Hunter2/kq.mdb");
    EXPECT_EQ(hidden("0101"), "0101");
}

TEST(ArgumentPasswords, TheRunningTerminalShowsNoPasswordInItsProcessList)
{
    TestSupport::TerminalProcess world;
    QProcess terminal;
    terminal.setProcessEnvironment(world.environment());
    // A server nobody answers for: the window comes up all the same.
    terminal.start(
        QStringLiteral(TAVELO_BIN_DIR "/tavelo"),
        {QStringLiteral("--database"), QStringLiteral("host=%1 port=5999 dbname=kq password=Hunter2-Secret")
                                           .arg(world.path(QStringLiteral("nobody")))});
    ASSERT_TRUE(terminal.waitForStarted(10000));
    const QString cmdline = QStringLiteral("/proc/%1/cmdline").arg(terminal.processId());
    QByteArray seen;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        QFile file(cmdline);
        if (file.open(QIODevice::ReadOnly))
            seen = file.readAll();
        if (seen.contains("--database") && !seen.contains("Hunter2"))
            break;
        QThread::msleep(50);
    }
    EXPECT_EQ(terminal.state(), QProcess::Running) << "the terminal ended early";
    terminal.kill();
    terminal.waitForFinished(10000);
    EXPECT_FALSE(seen.contains("Hunter2")) << seen.replace('\0', ' ').constData();
    EXPECT_TRUE(seen.contains("password=**************")) << seen.replace('\0', ' ').constData();
}

} // namespace
