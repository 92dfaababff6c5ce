#include "app/TerminalCommandLine.h"

#include <QCommandLineParser>

#include <cstdio>

QString TerminalCommandLine::usage()
{
    return QStringLiteral(
        "Usage: tavelo [--database TARGET]\n"
        "The Tavelo attendance terminal.\n"
        "\n"
        "Options:\n"
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
    QCommandLineParser parser;
    // "-reverse" is one unknown option, not -r -e -v ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("TARGET"));
    parser.addOptions({help, version, database});

    const auto refuse = [&result](const QString& reason) {
        result.m_action = Action::Refuse;
        result.m_error = reason;
        return result;
    };
    if (!parser.parse(arguments)) {
        // Names only: the text after a name may be a password typed in the wrong place.
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return refuse(QStringLiteral("unknown option '%1'").arg(unknown.first()));
        return refuse(QStringLiteral("--database needs a TARGET"));
    }
    // Not even quoted back: a stray word is most often the rest of an unquoted TARGET.
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("tavelo takes no arguments besides its options"));
    if (parser.isSet(help)) {
        result.m_action = Action::Help;
        return result;
    }
    if (parser.isSet(version)) {
        result.m_action = Action::Version;
        return result;
    }
    if (parser.isSet(database)) {
        result.m_database = DatabaseTarget::parse(parser.value(database));
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
        std::fprintf(stderr, "tavelo: %s\n\n%s", m_error.toLocal8Bit().constData(),
                     usage().toLocal8Bit().constData());
        return kUsageExit;
    }
    return 0;
}
