// kqdb as a script or a newcomer meets it: one usage language, one exit code per kind of
// failure, whichever command runs.

#include "support/TestSupport.h"
#include "support/ToolRun.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestSupport::runKqdb;
using TestSupport::ToolRun;

std::string text(const ToolRun& run)
{
    return QStringLiteral("exit %1\nout: %2\nerr: %3")
        .arg(run.exitCode)
        .arg(QString::fromLocal8Bit(run.out), QString::fromLocal8Bit(run.err))
        .toStdString();
}

// Every command that works on a database, with arguments that are otherwise fine, so that
// only the TARGET decides the outcome.
QList<QStringList> commandsOn(const QString& target, const QString& scratch)
{
    return {
        {QStringLiteral("create"), target},
        {QStringLiteral("swipe"), target, QStringLiteral("0101")},
        {QStringLiteral("export"), target},
        {QStringLiteral("import-employees"), target, scratch + QStringLiteral("/staff.csv")},
        {QStringLiteral("import-mdb"), scratch + QStringLiteral("/kq.mdb"), target},
        {QStringLiteral("outbox"), target},
        {QStringLiteral("forward"), target},
    };
}

TEST(KqdbCommandLine, VersionAndHelpAnswerOnStandardOutput)
{
    const ToolRun version = runKqdb({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0) << text(version);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^kqdb \\d+\\.\\d+\\.\\d+\\n$"))
                    .match(QString::fromLatin1(version.out))
                    .hasMatch())
        << text(version);

    const ToolRun help = runKqdb({QStringLiteral("--help")});
    ASSERT_EQ(help.exitCode, 0) << text(help);
    const QString usage = QString::fromLocal8Bit(help.out);
    // The exit codes are part of the answer, one per kind of outcome.
    for (const char* line :
         {"0  done", "1  failed", "2  usage", "3  no such employee", "4  already recorded"})
        EXPECT_TRUE(usage.contains(QLatin1String(line))) << line << "\n" << usage.toStdString();
    // Every command that takes a database names it TARGET, and every command says what it does.
    const QRegularExpression commandLine(QStringLiteral("^  kqdb (\\S+)(.*)$"),
                                         QRegularExpression::MultilineOption);
    int commands = 0;
    for (auto it = commandLine.globalMatch(usage); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        ++commands;
        EXPECT_FALSE(m.captured(2).contains(u'<'))
            << "placeholder in angle brackets: " << m.captured(0).toStdString();
        const qsizetype after = usage.indexOf(u'\n', m.capturedEnd(0)) + 1;
        EXPECT_TRUE(usage.mid(after, 6) == QLatin1String("      "))
            << "no description under " << m.captured(0).toStdString();
    }
    EXPECT_GE(commands, 10);
    for (const QStringList& command : commandsOn(QStringLiteral("T"), QStringLiteral("/nowhere"))) {
        const ToolRun one = runKqdb({command.first(), QStringLiteral("--help")});
        EXPECT_EQ(one.exitCode, 0) << text(one);
        EXPECT_TRUE(one.out.contains("TARGET")) << command.first().toStdString() << ": " << text(one);
    }
}

TEST(KqdbCommandLine, UnknownOptionsAreNamed)
{
    const ToolRun global = runKqdb({QStringLiteral("--frobnicate")});
    EXPECT_EQ(global.exitCode, 2) << text(global);
    EXPECT_TRUE(global.err.contains("unknown option --frobnicate")) << text(global);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (QStringList command : commandsOn(dir.filePath(QStringLiteral("kq.sqlite")), dir.path())) {
        command.append(QStringLiteral("--frobnicate"));
        const ToolRun run = runKqdb(command);
        EXPECT_EQ(run.exitCode, 2) << command.join(u' ').toStdString() << "\n" << text(run);
        EXPECT_TRUE(run.err.contains("unknown option --frobnicate"))
            << command.join(u' ').toStdString() << "\n"
            << text(run);
        EXPECT_TRUE(run.err.contains("usage: kqdb " + command.first().toLatin1())) << text(run);
    }
}

// A server TARGET libpq cannot read is a usage error for every command, said once, without
// quoting it (it may hold a password) and without a second, misleading line.
TEST(KqdbCommandLine, AnUnreadableServerTargetIsAUsageErrorForEveryCommand)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = QStringLiteral("host=db nosuchkeyword=x password=s3cret");
    for (const QStringList& command : commandsOn(target, dir.path())) {
        const ToolRun run = runKqdb(command);
        const std::string what = command.first().toStdString() + "\n" + text(run);
        EXPECT_EQ(run.exitCode, 2) << what;
        EXPECT_TRUE(run.err.startsWith("kqdb: ")) << what;
        EXPECT_FALSE(run.err.contains("s3cret")) << what;
        EXPECT_FALSE(run.err.contains("Provider")) << what;
        EXPECT_TRUE(run.out.isEmpty()) << what;
    }
}

// Commands that only print leave every file as it was: a user without settings keeps
// having none (the run command asks terminal-database before every start).
TEST(KqdbCommandLine, CommandsThatOnlyPrintWriteNothing)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedState = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
    const ToolRun folder = runKqdb({QStringLiteral("mdb-dir")});
    const ToolRun database = runKqdb({QStringLiteral("terminal-database")});
    qputenv("XDG_CONFIG_HOME", savedConfig);
    qputenv("XDG_STATE_HOME", savedState);
    EXPECT_EQ(folder.exitCode, 0) << text(folder);
    EXPECT_TRUE(folder.out.endsWith("/mdb\n")) << text(folder);
    EXPECT_EQ(database.exitCode, 0) << text(database);
    EXPECT_TRUE(database.out.endsWith("/mdb/kq.mdb\n")) << text(database);
    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList())
        << "mdb-dir or terminal-database made files in an empty home";
}

} // namespace
