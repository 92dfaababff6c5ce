#include "app/TerminalCommandLine.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

bool asksForHelp(const QString& arg)
{
    return arg == u"--help" || arg == u"-h";
}

} // namespace

QString TerminalCommandLine::usageLine()
{
    return QStringLiteral("tavelo [--database TARGET] | --help | --version");
}

QString TerminalCommandLine::usage()
{
    return QStringLiteral("usage: ") + usageLine() +
           QStringLiteral(
               "\n"
               "The Tavelo attendance terminal.\n"
               "\n"
               "options:\n"
               "  -h, --help           Show this help and exit.\n"
               "  -v, --version        Show the version and exit.\n"
               "  --database TARGET    The database to work on; wins over the value \"database\" of\n"
               "                       the settings key Software/Tavelo. A PostgreSQL connection\n"
               "                       URI (postgresql://...) or libpq keyword/value text\n"
               "                       (service=kq, host=... dbname=...) selects a server; any\n"
               "                       other text is the path of a database file, used instead of\n"
               "                       kq.mdb in the folder the settings value \"mdb\" names.\n"
               "                       Passwords belong in ~/.pgpass, pg_service.conf or\n"
               "                       PGPASSWORD rather than here.\n");
}

TerminalCommandLine TerminalCommandLine::parse(const QStringList& arguments)
{
    TerminalCommandLine result;
    const QStringList args = arguments.mid(1);
    // Wherever it stands, --help is the answer, as for every kqdb command.
    if (std::any_of(args.cbegin(), args.cend(), asksForHelp)) {
        result.m_action = Action::Help;
        return result;
    }
    const auto refuse = [&result](const QString& reason) {
        result.m_action = Action::Refuse;
        result.m_error = reason;
        return result;
    };
    bool version = false;
    std::optional<QString> database;
    // Qt's own options (-reverse, -style, -platform ...) are unknown here: Qt never sees them.
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == u"--version" || arg == u"-v") {
            version = true;
        } else if (arg == u"--database") {
            if (i + 1 >= args.size())
                return refuse(QStringLiteral("--database needs a TARGET"));
            database = args.at(++i);
        } else if (arg.startsWith(QStringLiteral("--database="))) {
            database = arg.mid(arg.indexOf(u'=') + 1);
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            // Named as typed, without what follows an "=": that may be a password.
            return refuse(QStringLiteral("unknown option %1").arg(arg.section(u'=', 0, 0)));
        } else {
            // Not even quoted back: a stray word is most often the rest of an unquoted TARGET.
            return refuse(QStringLiteral("tavelo takes no arguments besides its options"));
        }
    }
    if (version) {
        result.m_action = Action::Version;
        return result;
    }
    if (database) {
        result.m_database = DatabaseTarget::parse(*database);
        if (result.m_database.isNone())
            return refuse(QStringLiteral("--database needs a TARGET"));
        if (!result.m_database.isValid())
            return refuse(result.m_database.problem());
    }
    return result;
}

int TerminalCommandLine::report() const
{
    switch (m_action) {
    case Action::Run:
        break;
    case Action::Help:
        std::fputs(usage().toLocal8Bit().constData(), stdout);
        return 0;
    case Action::Version:
        std::printf("tavelo %s\n", TAVELO_VERSION);
        return 0;
    case Action::Refuse:
        // The form of every usage error of tavelo and kqdb: what was wrong, then the usage line.
        std::fprintf(stderr, "tavelo: %s\nusage: %s\n", m_error.toLocal8Bit().constData(),
                     usageLine().toLocal8Bit().constData());
        return kUsageExit;
    }
    return 0;
}
