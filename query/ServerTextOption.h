#pragma once

#include <QByteArray>

// One keyword=value pair of a server connection text, as the server's client library reads it.
struct ServerTextOption
{
    QByteArray keyword;
    QByteArray value;
    // A field to hide when the text is shown ("password", "sslpassword").
    bool secret = false;
};
