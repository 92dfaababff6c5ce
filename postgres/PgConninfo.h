#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

// Reads a libpq connection text (key=value pairs or a postgresql:// URI) the way libpq
// itself does, so that callers outside this folder need not see libpq.
class PgConninfo
{
public:
    struct Option
    {
        QByteArray keyword;
        QByteArray value;
        // libpq marks the fields to hide when the text is shown ("password", "sslpassword").
        bool secret = false;
    };

    // The options the text sets, in libpq's order; nullopt when libpq cannot read it.
    // libpq's own message is dropped, as it quotes the text it stumbled on, which may be
    // the password.
    static std::optional<std::vector<Option>> parse(const QByteArray& text);
};
