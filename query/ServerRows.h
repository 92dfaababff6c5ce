#pragma once

#include <QByteArray>

#include <utility>
#include <vector>

// The rows one statement sent to a database server returned, each value in the server's
// text form, so that callers above the back ends read a server's answer without seeing
// the client library that carried it.
class ServerRows
{
public:
    ServerRows() = default;
    explicit ServerRows(std::vector<std::vector<QByteArray>> rows) : m_rows(std::move(rows)) {}

    int rows() const { return int(m_rows.size()); }
    // The value as the server sent it in text form; "" for NULL.
    QByteArray value(int row, int column) const { return m_rows.at(size_t(row)).at(size_t(column)); }

private:
    std::vector<std::vector<QByteArray>> m_rows;
};
