#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the outbox commands take: a TARGET and, optionally, the local store file to use
// instead of this user's store for that target.
struct OutboxArguments
{
    QString connectionString;
    QString storePath;
    // --retry-refused: also send the swipes the server refused once more.
    bool retryRefused = false;

    // Nothing after a usage error or an unusable TARGET, with *exitCode set and the reason
    // printed.
    // --retry-refused is taken only where acceptRetry is true.
    static std::optional<OutboxArguments> parse(const QStringList& args, const char* usage, int* exitCode,
                                                bool acceptRetry = false);
};
