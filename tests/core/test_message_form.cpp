// One voice for tavelo and kqdb: every usage error of every command says what was wrong on
// one line ("kqdb: missing NUM"), then that command's usage line and nothing more, with
// exit code 2 and nothing on standard output; --help after any arguments answers with the
// usage. The commands are taken from kqdb's own listing, so a new one is held to it too.

#include "support/ToolRun.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestSupport::runKqdb;
using TestSupport::runProgram;
using TestSupport::ToolRun;

std::string shown(const QStringList& args, const ToolRun& run)
{
    return QStringLiteral("%1\nexit %2\nout: %3\nerr: %4")
        .arg(args.join(u' '))
        .arg(run.exitCode)
        .arg(QString::fromLocal8Bit(run.out), QString::fromLocal8Bit(run.err))
        .toStdString();
}

// The command names and their usage lines, as `kqdb COMMAND --help` gives them: the first
// line and the lines continuing it ("       [--encoding ..."), without the description.
struct Command
{
    QString name;
    QString usageLine;
};

QList<Command> commands()
{
    const ToolRun help = runKqdb({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    QList<Command> result;
    const QRegularExpression listed(QStringLiteral("^  kqdb ([a-z][a-z-]*)\\b"),
                                    QRegularExpression::MultilineOption);
    for (auto it = listed.globalMatch(QString::fromLocal8Bit(help.out)); it.hasNext();) {
        const QString name = it.next().captured(1);
        const ToolRun own = runKqdb({name, QStringLiteral("--help")});
        EXPECT_EQ(own.exitCode, 0) << shown({name, QStringLiteral("--help")}, own);
        const QStringList lines = QString::fromLocal8Bit(own.out).split(u'\n');
        QStringList usage{lines.first()};
        for (qsizetype i = 1; i < lines.size() && lines.at(i).trimmed().startsWith(u'['); ++i)
            usage.append(lines.at(i));
        EXPECT_TRUE(usage.first().startsWith(QStringLiteral("usage: kqdb ") + name))
            << usage.first().toStdString();
        result.append({name, usage.join(u'\n')});
    }
    return result;
}

// The one form: exit 2, nothing on standard output, "kqdb: <what>" and the usage line.
void expectUsageError(const QStringList& args, const ToolRun& run, const QString& usageLine,
                      const QString& what = QString())
{
    const QString err = QString::fromLocal8Bit(run.err);
    EXPECT_EQ(run.exitCode, 2) << shown(args, run);
    EXPECT_TRUE(run.out.isEmpty()) << shown(args, run);
    const qsizetype firstEnd = err.indexOf(u'\n');
    ASSERT_GT(firstEnd, 0) << shown(args, run);
    const QString first = err.left(firstEnd);
    EXPECT_TRUE(first.startsWith(QStringLiteral("kqdb: ")) && first.size() > 6) << shown(args, run);
    EXPECT_FALSE(first.contains(QStringLiteral("usage"), Qt::CaseInsensitive)) << shown(args, run);
    if (!what.isEmpty()) {
        EXPECT_EQ(first, QStringLiteral("kqdb: ") + what) << shown(args, run);
    }
    EXPECT_EQ(err.mid(firstEnd + 1), usageLine + u'\n') << shown(args, run);
}

TEST(MessageForm, EveryUsageErrorOfEveryKqdbCommandSaysWhatWasWrongThenItsUsageLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QList<Command> all = commands();
    ASSERT_GE(all.size(), 9);
    for (const Command& command : all) {
        // An option the command does not take, named as it was spelt.
        QStringList args{command.name, QStringLiteral("--bogus-option")};
        expectUsageError(args, runKqdb(args), command.usageLine,
                         QStringLiteral("unknown option --bogus-option"));

        // More plain arguments than any command takes.
        args = QStringList{command.name};
        for (int i = 0; i < 6; ++i)
            args.append(dir.filePath(QStringLiteral("extra%1").arg(i)));
        expectUsageError(args, runKqdb(args), command.usageLine, QStringLiteral("too many arguments"));

        // Without its arguments: the first one missing is named as the usage names it.
        const QString synopsis = command.usageLine.mid(QStringLiteral("usage: kqdb ").size());
        const QRegularExpression placeholder(QStringLiteral("^\\S+ ([A-Z][A-Za-z.]*)"));
        if (const QRegularExpressionMatch m = placeholder.match(synopsis); m.hasMatch()) {
            args = QStringList{command.name};
            expectUsageError(args, runKqdb(args), command.usageLine,
                             QStringLiteral("missing ") + m.captured(1));
        }

        // A server TARGET libpq cannot read, where the usage names TARGET: a usage error like
        // any other, which does not quote it (it may hold a password).
        const QStringList words = synopsis.split(u' ');
        if (words.contains(QStringLiteral("TARGET"))) {
            args = QStringList{command.name};
            for (qsizetype i = 1; i < words.size() && !words.at(i).startsWith(u'['); ++i)
                args.append(words.at(i) == u"TARGET"
                                ? QStringLiteral("host=db nosuchkeyword=x password=s3cret")
                                : dir.filePath(words.at(i)));
            const ToolRun run = runKqdb(args);
            expectUsageError(args, run, command.usageLine);
            EXPECT_FALSE(run.err.contains("s3cret")) << shown(args, run);
        }

        // --help after the arguments, even after a mistake, answers with the usage.
        args = QStringList{command.name, dir.filePath(QStringLiteral("kq.mdb")),
                           QStringLiteral("--bogus-option"), QStringLiteral("--help")};
        const ToolRun help = runKqdb(args);
        EXPECT_EQ(help.exitCode, 0) << shown(args, help);
        EXPECT_TRUE(QString::fromLocal8Bit(help.out).startsWith(command.usageLine)) << shown(args, help);
        EXPECT_TRUE(help.err.isEmpty()) << shown(args, help);
    }
}

TEST(MessageForm, ValuesAndArgumentsAKqdbCommandCannotUseAreNamed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString db = dir.filePath(QStringLiteral("kq.mdb"));
    ASSERT_EQ(runKqdb({QStringLiteral("create"), db, QStringLiteral("--demo")}).exitCode, 0);
    QMap<QString, QString> usage;
    for (const Command& command : commands())
        usage.insert(command.name, command.usageLine);

    const struct
    {
        QStringList args;
        QString what;
    } cases[] = {
        {{QStringLiteral("create"), dir.filePath(QStringLiteral("x.mdb")), QStringLiteral("--employees"),
          QStringLiteral("abc")},
         QStringLiteral("--employees takes a number from 0 to 10000000, not \"abc\"")},
        {{QStringLiteral("create"), dir.filePath(QStringLiteral("x.mdb")), QStringLiteral("--employees")},
         QStringLiteral("--employees needs a value")},
        {{QStringLiteral("create"), dir.filePath(QStringLiteral("x.mdb")), QStringLiteral("--demo"),
          QStringLiteral("--employees"), QStringLiteral("5")},
         QStringLiteral("--demo and --employees go one at a time")},
        {{QStringLiteral("swipe"), db}, QStringLiteral("missing NUM")},
        {{QStringLiteral("swipe"), db, QStringLiteral("0101"), QStringLiteral("--now"),
          QStringLiteral("today")},
         QStringLiteral(
             "--now takes a local time \"yyyy-mm-dd hh:nn:ss\" from 0001-01-01 00:03:00 to 9999-12-31 "
             "23:56:59, not \"today\"")},
        {{QStringLiteral("export"), db, QStringLiteral("--from"), QStringLiteral("2026-13-01")},
         QStringLiteral("--from takes a date as YYYY-MM-DD, not \"2026-13-01\"")},
        {{QStringLiteral("export"), db, QStringLiteral("--encoding"), QStringLiteral("latin1")},
         QStringLiteral("--encoding takes gbk or utf-8, not \"latin1\"")},
        {{QStringLiteral("export"), db, QStringLiteral("--replace-unmappable")},
         QStringLiteral("--replace-unmappable goes with --encoding gbk: UTF-8 holds every character")},
        {{QStringLiteral("import-employees"), db}, QStringLiteral("missing FILE.csv")},
        {{QStringLiteral("import-employees"), db, QStringLiteral("staff.csv"), QStringLiteral("--new-only"),
          QStringLiteral("--replace")},
         QStringLiteral("--new-only and --replace go one at a time")},
        {{QStringLiteral("import-mdb"), db}, QStringLiteral("missing TARGET")},
        {{QStringLiteral("mdb-dir"), QStringLiteral("x")}, QStringLiteral("too many arguments")},
    };
    for (const auto& c : cases)
        expectUsageError(c.args, runKqdb(c.args), usage.value(c.args.first()), c.what);

    // Before any command: the tool's own usage line.
    const QString toolUsage = QStringLiteral("usage: kqdb COMMAND [ARGUMENTS] | --help | --version");
    expectUsageError({}, runKqdb({}), toolUsage, QStringLiteral("no command given"));
    expectUsageError({QStringLiteral("bogus")}, runKqdb({QStringLiteral("bogus")}), toolUsage,
                     QStringLiteral("unknown command bogus"));
    expectUsageError({QStringLiteral("--bogus")}, runKqdb({QStringLiteral("--bogus")}), toolUsage,
                     QStringLiteral("unknown option --bogus"));
    // A TARGET typed where the command belongs may hold a password: it is not quoted.
    const QStringList stray{QStringLiteral("postgresql://clerk:S3cr3t@db/kq"), QStringLiteral("export")};
    const ToolRun strayRun = runKqdb(stray);
    expectUsageError(stray, strayRun, toolUsage);
    EXPECT_FALSE(strayRun.err.contains("S3cr3t")) << shown(stray, strayRun);
}

// A file that is not there is said one way, whichever command meets it and whatever the file
// is for: as the database layer says it, "Could not find file '…'".
TEST(MessageForm, AMissingFileIsWordedOneWay)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString db = dir.filePath(QStringLiteral("kq.mdb"));
    ASSERT_EQ(runKqdb({QStringLiteral("create"), db}).exitCode, 0);
    const QString absent = dir.filePath(QStringLiteral("absent"));
    const QString staff = dir.filePath(QStringLiteral("staff.csv"));
    QFile csv(staff);
    ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
    csv.write("num,name\n0101,Li\n");
    csv.close();
    const QList<QStringList> runs = {
        {QStringLiteral("swipe"), absent, QStringLiteral("0101")},
        {QStringLiteral("export"), absent},
        {QStringLiteral("import-employees"), absent, staff},
        {QStringLiteral("import-employees"), db, absent},
        {QStringLiteral("import-mdb"), absent, dir.filePath(QStringLiteral("new.sqlite"))},
    };
    for (const QStringList& args : runs) {
        const ToolRun run = runKqdb(args);
        const QString err = QString::fromLocal8Bit(run.err);
        EXPECT_EQ(run.exitCode, 1) << shown(args, run);
        EXPECT_TRUE(err.startsWith(QStringLiteral("kqdb: Could not find file '%1'").arg(absent)))
            << shown(args, run);
        EXPECT_FALSE(err.contains(QStringLiteral("No such file"))) << shown(args, run);
        EXPECT_FALSE(err.contains(QStringLiteral("no such file"))) << shown(args, run);
    }
}

TEST(MessageForm, TaveloSpeaksInTheSameForm)
{
    const QString tavelo = QStringLiteral(TAVELO_BIN_DIR "/tavelo");
    const QString usageLine = QStringLiteral("usage: tavelo [--database TARGET] | --help | --version\n");
    const struct
    {
        QStringList args;
        QString what;
    } cases[] = {
        {{QStringLiteral("--bogus")}, QStringLiteral("unknown option --bogus")},
        {{QStringLiteral("--bogus=password=x")}, QStringLiteral("unknown option --bogus")},
        {{QStringLiteral("-style"), QStringLiteral("fusion")}, QStringLiteral("unknown option -style")},
        {{QStringLiteral("--database")}, QStringLiteral("--database needs a TARGET")},
    };
    for (const auto& c : cases) {
        const ToolRun run = runProgram(tavelo, c.args);
        EXPECT_EQ(run.exitCode, 2) << shown(c.args, run);
        EXPECT_TRUE(run.out.isEmpty()) << shown(c.args, run);
        EXPECT_EQ(QString::fromLocal8Bit(run.err), QStringLiteral("tavelo: ") + c.what + u'\n' + usageLine)
            << shown(c.args, run);
    }
    // --help after other arguments, even after a mistake.
    for (const QStringList& args :
         {QStringList{QStringLiteral("--database"), QStringLiteral("x.mdb"), QStringLiteral("--help")},
          QStringList{QStringLiteral("--bogus"), QStringLiteral("-h")}}) {
        const ToolRun run = runProgram(tavelo, args);
        EXPECT_EQ(run.exitCode, 0) << shown(args, run);
        EXPECT_TRUE(QString::fromLocal8Bit(run.out).startsWith(usageLine)) << shown(args, run);
    }
}

} // namespace
