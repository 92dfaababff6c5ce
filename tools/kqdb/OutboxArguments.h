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

    // Nothing after a usage error or an unusable TARGET, with *exitCode set and the reason
    // printed.
    static std::optional<OutboxArguments> parse(const QStringList& args, const char* usage, int* exitCode);
};
