#pragma once

#include <QString>

// Which database a terminal or kqdb works on, as the operator names it: nothing (the
// terminal's usual kq.mdb in the configured folder), the path of a database file, or a
// PostgreSQL server given as a connection URI ("postgresql://...", "postgres://...") or
// as libpq keyword/value text ("service=kq", "host=... dbname=...").
//
// A text is a server's when it starts with one of the URI prefixes or with a keyword
// and '=' (a file whose name looks like that is reached as "./name=..."). libpq reads
// it; what libpq cannot read is an unusable server target rather than a file path, so
// that its text, which may hold a password, never ends up in a file-not-found message.
//
// A password written into the text reaches libpq and nothing else: displayText() and
// problem() leave it out, and the server is handed the text as libpq's own parse of it,
// so that no later syntax complaint of libpq can quote a piece of it.
class DatabaseTarget
{
public:
    enum class Kind
    {
        None,
        File,
        Server
    };

    DatabaseTarget() = default;
    // Blanks and control characters around the text do not count.
    static DatabaseTarget parse(const QString& text);
    static DatabaseTarget file(const QString& path);

    // The target the terminal settings name: the value "database" of the key
    // "\Software\Tavelo" (not created when missing). None when the value is blank.
    static DatabaseTarget configured();
    // The command line's target when it names one, else configured().
    static DatabaseTarget chosen(const DatabaseTarget& commandLine);

    Kind kind() const { return m_kind; }
    bool isNone() const { return m_kind == Kind::None; }
    bool isServer() const { return m_kind == Kind::Server; }
    // False only for a server text libpq cannot read.
    bool isValid() const { return m_problem.isEmpty(); }

    QString filePath() const { return m_kind == Kind::File ? m_text : QString(); }
    // libpq keyword/value text with every value quoted, password included; empty for an
    // unusable server text.
    QString conninfo() const { return m_kind == Kind::Server ? m_text : QString(); }
    // What AdoConnection takes. Empty for None and for an unusable server text.
    QString connectionString() const;
    // The target for messages: the file path, or the server's keyword/value text without
    // any password.
    QString displayText() const { return m_display; }
    // Why an unusable server text cannot be used, in words that quote none of it.
    QString problem() const { return m_problem; }

    static const QString kKeyPath;
    static const QString kValueName;

private:
    Kind m_kind = Kind::None;
    QString m_text;
    QString m_display;
    QString m_problem;
};
