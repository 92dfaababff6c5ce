#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

class PgConnection;
class PgExchange;

// COPY on an open connection, in either direction, through bounded memory: the data into
// the server in large pieces, the rows out of it handed over one by one as they arrive.
class PgCopy
{
public:
    PgCopy(PgConnection& connection, PgExchange& exchange) : m_connection(connection), m_exchange(exchange) {}

    // COPY ... FROM STDIN with the data in COPY's text format; returns the rows copied.
    qint64 in(const QByteArray& sql, const QByteArray& data);
    // COPY ... TO STDOUT, each row without its line end handed to visit. When visit
    // throws, the connection is dropped (the server would go on sending the rest).
    void out(const QByteArray& sql, const std::function<void(QByteArrayView row)>& visit);

private:
    // Sends a COPY statement and waits until the server has started the copy, into the
    // server or out of it; a refusal is thrown.
    void start(const QByteArray& sql, bool toServer);

    PgConnection& m_connection;
    PgExchange& m_exchange;
};
