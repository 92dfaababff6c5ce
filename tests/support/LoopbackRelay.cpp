#include "support/LoopbackRelay.h"

#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

struct Pair
{
    int client = -1;
    int server = -1;
};

void closePair(Pair& pair)
{
    if (pair.client >= 0)
        ::close(pair.client);
    if (pair.server >= 0)
        ::close(pair.server);
    pair.client = pair.server = -1;
}

int connectUnix(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::strncpy(address.sun_path, name.constData(), sizeof(address.sun_path) - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Moves what is there from one socket to the other; false when either side is done.
bool pump(int from, int to)
{
    char buffer[16384];
    const ssize_t got = ::read(from, buffer, sizeof(buffer));
    if (got <= 0)
        return false;
    ssize_t sent = 0;
    while (sent < got) {
        const ssize_t n = ::write(to, buffer + sent, size_t(got - sent));
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

} // namespace

LoopbackRelay::LoopbackRelay(const QString& unixSocketPath) : m_target(unixSocketPath)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_listener, 16) != 0 || ::pipe(m_wakePipe) != 0)
        throw std::runtime_error("relay: cannot listen on 127.0.0.1");
    socklen_t length = sizeof(address);
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

LoopbackRelay::~LoopbackRelay()
{
    m_stop = true;
    const char wake = 0;
    (void)!::write(m_wakePipe[1], &wake, 1);
    m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

void LoopbackRelay::run()
{
    std::vector<Pair> pairs;
    while (!m_stop) {
        const bool refusing = m_refuse && m_listener >= 0;
        if (m_drop.exchange(false) || refusing) {
            for (Pair& pair : pairs)
                closePair(pair);
            pairs.clear();
        }
        if (refusing) {
            ::close(m_listener);
            m_listener = -1;
        }
        const bool silent = m_silent;
        // A negative descriptor is left out by poll: a closed port accepts nothing.
        std::vector<pollfd> fds{{m_listener, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (!silent) {
            for (const Pair& pair : pairs) {
                fds.push_back({pair.client, POLLIN, 0});
                fds.push_back({pair.server, POLLIN, 0});
            }
        }
        // Short waits: a change to silent takes effect at once, not after the next byte.
        if (::poll(fds.data(), fds.size(), 50) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client >= 0) {
                const int server = connectUnix(m_target);
                if (server < 0)
                    ::close(client);
                else
                    pairs.push_back({client, server});
            }
        }
        // Made silent while it waited: what arrived meanwhile is held back too.
        if (silent || m_silent)
            continue;
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Pair& pair = pairs[(i - 2) / 2];
            if (pair.client < 0)
                continue;
            const bool fromClient = fds[i].fd == pair.client;
            if (!pump(fromClient ? pair.client : pair.server, fromClient ? pair.server : pair.client))
                closePair(pair);
        }
        std::erase_if(pairs, [](const Pair& pair) { return pair.client < 0; });
    }
    for (Pair& pair : pairs)
        closePair(pair);
}
