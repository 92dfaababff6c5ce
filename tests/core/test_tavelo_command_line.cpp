// The real terminal program, started headless: what its command line accepts, prints
// and refuses, and which database a start reaches (seen in the error log line that a
// missing database leaves).
#include "support/TerminalProcess.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

using TestSupport::logLineCount;
using TestSupport::TerminalProcess;

class TaveloProcessTest : public ::testing::Test
{
protected:
    QByteArray quotedPath(const QString& name) const { return "'" + m_terminal.path(name).toUtf8() + "'"; }

    TerminalProcess m_terminal;
};

TEST_F(TaveloProcessTest, HelpAndVersion)
{
    for (const char* option : {"--help", "-h"}) {
        const TerminalProcess::Run run = m_terminal.runToEnd({QString::fromLatin1(option)});
        EXPECT_EQ(run.exitCode, 0) << option;
        EXPECT_TRUE(
            run.out.startsWith(QStringLiteral("usage: tavelo [--database TARGET] | --help | --version\n")))
            << option;
        EXPECT_TRUE(run.out.contains(QStringLiteral("--database TARGET    The database"))) << option;
        EXPECT_EQ(run.err, QString()) << option;
    }
    for (const char* option : {"--version", "-v"}) {
        const TerminalProcess::Run run = m_terminal.runToEnd({QString::fromLatin1(option)});
        EXPECT_EQ(run.exitCode, 0) << option;
        EXPECT_EQ(run.out, QStringLiteral("tavelo 5.2.0\n")) << option;
    }
    EXPECT_EQ(m_terminal.errorLog(), QByteArray());
}

TEST_F(TaveloProcessTest, UnknownOptionsAndQtsOwnAreRefusedWithTheUsage)
{
    const struct
    {
        QStringList args;
        QString reason;
    } cases[] = {
        {{QStringLiteral("--bogus")}, QStringLiteral("tavelo: unknown option --bogus\n")},
        {{QStringLiteral("-reverse")}, QStringLiteral("tavelo: unknown option -reverse\n")},
        {{QStringLiteral("-style"), QStringLiteral("fusion")},
         QStringLiteral("tavelo: unknown option -style\n")},
        {{QStringLiteral("-platform"), QStringLiteral("xcb")},
         QStringLiteral("tavelo: unknown option -platform\n")},
        {{QStringLiteral("--reverse")}, QStringLiteral("tavelo: unknown option --reverse\n")},
        {{QStringLiteral("extra")},
         QStringLiteral("tavelo: tavelo takes no arguments besides its options\n")},
        {{QStringLiteral("--database")}, QStringLiteral("tavelo: --database needs a TARGET\n")},
        {{QStringLiteral("--database"), QStringLiteral("  ")},
         QStringLiteral("tavelo: --database needs a TARGET\n")},
    };
    for (const auto& c : cases) {
        const TerminalProcess::Run run = m_terminal.runToEnd(c.args);
        const std::string args = c.args.join(u' ').toStdString();
        EXPECT_EQ(run.exitCode, 2) << args;
        EXPECT_EQ(run.out, QString()) << args;
        // What was wrong, then the usage line, and nothing else.
        EXPECT_EQ(run.err,
                  c.reason + QStringLiteral("usage: tavelo [--database TARGET] | --help | --version\n"))
            << args;
    }
    // None of them got as far as a window or a database.
    EXPECT_EQ(m_terminal.errorLog(), QByteArray());
}

TEST_F(TaveloProcessTest, PasswordOfARefusedTargetIsNotPrinted)
{
    const QStringList targets[] = {
        // An unquoted blank in the password, a misspelt keyword, a broken URI escape.
        {QStringLiteral("--database"), QStringLiteral("host=db password=S3cr3t pw")},
        {QStringLiteral("--database"), QStringLiteral("host=db passwd=S3cr3t")},
        {QStringLiteral("--database"), QStringLiteral("postgresql://att:S3cr3t%zz@db/kq")},
        // The rest of an unquoted TARGET arrives as a stray argument.
        {QStringLiteral("--database"), QStringLiteral("host=db"), QStringLiteral("password=S3cr3t")},
        {QStringLiteral("--database=host=db"), QStringLiteral("--password=S3cr3t")},
    };
    for (const QStringList& args : targets) {
        const TerminalProcess::Run run = m_terminal.runToEnd(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("S3cr3t"))) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QStringLiteral("S3cr3t")));
    }
}

TEST_F(TaveloProcessTest, NoTargetOpensKqMdbInTheConfiguredFolder)
{
    m_terminal.writeSettings("[Software/Microsoft/Windows/CurrentVersion/Kelvaro]\nmdb=" +
                             m_terminal.path(QStringLiteral("folder")).toUtf8() + "\n");
    const TerminalProcess::Run run = m_terminal.runUntilLogged({});
    EXPECT_TRUE(run.stayedUp);
    const QByteArray log = m_terminal.errorLog();
    EXPECT_EQ(logLineCount(log), 1) << log.constData();
    EXPECT_TRUE(log.contains(quotedPath(QStringLiteral("folder/kq.mdb")))) << log.constData();
}

TEST_F(TaveloProcessTest, DatabaseValueWinsOverTheFolder)
{
    m_terminal.writeSettings(
        "[Software/Microsoft/Windows/CurrentVersion/Kelvaro]\nmdb=" +
        m_terminal.path(QStringLiteral("folder")).toUtf8() +
        "\n[software/tavelo]\nDatabase=" + m_terminal.path(QStringLiteral("setting;1.mdb")).toUtf8() + "\n");
    const TerminalProcess::Run run = m_terminal.runUntilLogged({});
    EXPECT_TRUE(run.stayedUp);
    const QByteArray log = m_terminal.errorLog();
    EXPECT_EQ(logLineCount(log), 1) << log.constData();
    EXPECT_TRUE(log.contains(quotedPath(QStringLiteral("setting;1.mdb")))) << log.constData();
}

TEST_F(TaveloProcessTest, OptionWinsOverTheDatabaseValue)
{
    m_terminal.writeSettings(
        "[Software/Tavelo]\ndatabase=" + m_terminal.path(QStringLiteral("setting.mdb")).toUtf8() + "\n");
    const QString option = m_terminal.path(QStringLiteral("option.mdb"));
    for (const QStringList& args : {QStringList{QStringLiteral("--database"), option},
                                    QStringList{QStringLiteral("--database=") + option}}) {
        m_terminal.removeErrorLog();
        const TerminalProcess::Run run = m_terminal.runUntilLogged(args);
        EXPECT_TRUE(run.stayedUp);
        const QByteArray log = m_terminal.errorLog();
        EXPECT_EQ(logLineCount(log), 1) << log.constData();
        EXPECT_TRUE(log.contains(quotedPath(QStringLiteral("option.mdb")))) << log.constData();
        EXPECT_FALSE(log.contains("setting.mdb")) << log.constData();
    }
}

} // namespace
