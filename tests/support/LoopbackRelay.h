#pragma once

#include <QString>

#include <atomic>
#include <thread>

// A TCP relay for network-failure tests: listens on 127.0.0.1 (a free port) and passes
// bytes both ways between each client and a Unix socket (a test server's). Made silent it
// keeps every connection open and accepts new ones, but passes no byte in either
// direction: a network that drops packets without a word, not one that refuses.
class LoopbackRelay
{
public:
    // Throws std::runtime_error when it cannot listen.
    explicit LoopbackRelay(const QString& unixSocketPath);
    ~LoopbackRelay();
    LoopbackRelay(const LoopbackRelay&) = delete;
    LoopbackRelay& operator=(const LoopbackRelay&) = delete;

    int port() const { return m_port; }
    void setSilent(bool silent) { m_silent = silent; }
    // Closes every relayed connection, as a network that comes back after a long cut finds
    // the old ones gone.
    void dropConnections() { m_drop = true; }
    // From now on refuses every connection, as a host whose server is gone refuses it
    // (the port is closed), and closes the relayed ones.
    void refuse() { m_refuse = true; }

private:
    void run();

    QString m_target;
    int m_listener = -1;
    int m_port = 0;
    int m_wakePipe[2] = {-1, -1};
    std::atomic<bool> m_silent{false};
    std::atomic<bool> m_drop{false};
    std::atomic<bool> m_refuse{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
