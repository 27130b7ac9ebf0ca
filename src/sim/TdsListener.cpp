#include "TdsListener.h"

#include "standin/tds/TdsBytes.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace zeph::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBacklog = 16;
constexpr std::size_t kReadSize = 64 * 1024;

// Sends every byte, waiting for as long as the client takes to read them: a client that stops
// reading holds its own session's thread here, and nothing else (its statement holds no lock
// that stops a writer). False once the client has gone.
bool sendAll(int fd, std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        // MSG_NOSIGNAL: a client that went away ends its session, not the server.
        const ssize_t n =
            ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The client's buffers are full: wait until it reads, or its connection ends.
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, -1) < 0 && errno != EINTR)
                return false;
            if (writable.revents & (POLLERR | POLLHUP | POLLNVAL))
                return false;
            continue;
        }
        return false;
    }
    return true;
}

std::string peerName(const sockaddr_in &address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

// When a refused login may be answered: no sooner than the delay after it came, and refusals
// to all clients together spaced a tenth of the delay apart, so that guessing a password is
// slow however many connections try at once.
Clock::time_point refusalTime(std::chrono::milliseconds delay) {
    static std::mutex mutex;
    static Clock::time_point last;
    std::lock_guard lock(mutex);
    last = std::max(Clock::now() + delay, last + delay / 10);
    return last;
}

// Bounds the wait of the connection's next read: until the deadline, or none. False when the
// deadline has passed.
bool waitNoLongerThan(int fd, std::optional<Clock::time_point> deadline) {
    timeval limit{};
    if (deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(*deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        limit.tv_sec = static_cast<time_t>(left.count() / 1'000'000);
        limit.tv_usec = static_cast<suseconds_t>(left.count() % 1'000'000);
    }
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return true;
}

// One client from its first byte to its last; the session ends (its transaction rolled back,
// its run lock let go) however the connection ends.
void serveClient(const tds::ServeSettings &settings, int fd, int id, std::string peer,
                 std::atomic<int> &active) {
    auto say = [&](const std::string &line) {
        if (settings.log)
            settings.log("session " + std::to_string(id) + ": " + line);
    };
    {
        tds::Session session(settings, id, std::move(peer));
        // While a statement runs, the client's next bytes are looked at without being taken:
        // an attention (cancel) or the connection's end stops the statement.
        session.watchForAttention([fd] {
            unsigned char type = 0;
            const ssize_t n = ::recv(fd, &type, 1, MSG_PEEK | MSG_DONTWAIT);
            return n == 0 || (n == 1 && type == tds::packet::kAttention) ||
                   (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        });
        // A long result goes out packet by packet as its rows are read.
        session.sendAhead([fd](std::string_view bytes) { return sendAll(fd, bytes); });
        const Clock::time_point loginDeadline = Clock::now() + settings.loginTimeout;
        std::string buffer(kReadSize, '\0');
        bool bounded = true;
        auto timedOut = [&] {
            say("ended: no login within " + std::to_string(settings.loginTimeout.count()) + " ms");
        };
        while (!session.finished()) {
            if (bounded &&
                !waitNoLongerThan(fd, session.loggedIn() ? std::nullopt
                                                         : std::optional(loginDeadline))) {
                timedOut();
                break;
            }
            bounded = !session.loggedIn();
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                timedOut();
                break;
            }
            if (n <= 0)
                break;
            try {
                const std::string reply =
                    session.receive(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
                if (session.loginFailed())
                    std::this_thread::sleep_until(refusalTime(settings.failedLoginDelay));
                if (!sendAll(fd, reply))
                    break;
            } catch (const tds::ProtocolError &e) {
                say(std::string("ended: ") + e.what());
                break;
            }
        }
    }
    // The slot is given back before the client can see its connection end, so that a client
    // that connects again at once is never refused for the slot it held.
    --active;
    ::close(fd);
}

} // namespace

Status serveTds(const tds::ServeSettings &settings, int port,
                const std::function<void(int port)> &listening) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (server < 0)
        return fail(std::string("cannot make a socket: ") + std::strerror(errno));
    const int yes = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(server, kBacklog) != 0 ||
        ::getsockname(server, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        const int err = errno;
        ::close(server);
        return fail("cannot listen on 127.0.0.1 port " + std::to_string(port) + ": " +
                    std::strerror(err));
    }
    listening(ntohs(address.sin_port));
    // Lives as long as the process, as the sessions' threads do.
    static std::atomic<int> active{0};
    for (int id = 1;; ++id) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const int fd =
            ::accept4(server, reinterpret_cast<sockaddr *>(&peer), &peerLength, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: the clients that end give some back.
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            const int err = errno;
            ::close(server);
            return fail(std::string("cannot take a connection: ") + std::strerror(err));
        }
        if (active.load() >= settings.maxConnections) {
            // Each connection holds a thread and its buffers: past the cap, none is taken.
            if (settings.log)
                settings.log("connection from " + peerName(peer) +
                             " refused: " + std::to_string(settings.maxConnections) +
                             " connections are served already");
            ::close(fd);
            continue;
        }
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        ++active;
        try {
            std::thread(serveClient, std::cref(settings), fd, id, peerName(peer), std::ref(active))
                .detach();
        } catch (const std::system_error &) {
            // No thread to be had: the client is told by its connection's end.
            --active;
            ::close(fd);
        }
    }
}

} // namespace zeph::sim
