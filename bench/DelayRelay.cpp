#include "DelayRelay.h"

#include "BenchSupport.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <deque>
#include <list>
#include <optional>
#include <random>
#include <stdexcept>

namespace bench {

namespace {

// Beyond this much held back, a side is not read until the other takes some.
constexpr std::size_t kMaxQueued = 4 << 20;
constexpr std::size_t kReadSize = 64 << 10;

struct Chunk {
    Clock::time_point due;
    std::string bytes;  // empty: the sender's end of data
    std::size_t sent = 0;
};

// Bytes from one socket on their way to the other.
struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    std::size_t queued = 0;
    bool readEnd = false;  // from has sent its end of data
    bool done = false;     // and that end has reached to
    bool blocked = false;  // to's send buffer was full
    std::string partial;   // a command line not ended yet

    bool wantsRead() const { return !readEnd && queued < kMaxQueued; }
};

struct Connection {
    Direction up;    // client to server
    Direction down;  // server to client
    bool control = false;
    bool broken = false;
};

// Writes what is due; false when the receiver is gone.
bool flush(Direction& d, Clock::time_point now) {
    while (!d.queue.empty() && !d.blocked && d.queue.front().due <= now) {
        Chunk& chunk = d.queue.front();
        if (chunk.bytes.empty()) {
            ::shutdown(d.to, SHUT_WR);
            d.done = true;
            d.queue.pop_front();
            continue;
        }
        const ssize_t n = ::send(d.to, chunk.bytes.data() + chunk.sent,
                                 chunk.bytes.size() - chunk.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                d.blocked = true;
                return true;
            }
            return errno == EINTR;
        }
        chunk.sent += static_cast<std::size_t>(n);
        if (chunk.sent == chunk.bytes.size()) {
            d.queued -= chunk.bytes.size();
            d.queue.pop_front();
        }
    }
    return true;
}

void setUp(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // The relay adds the delay; Nagle must not add more.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool canBind(const char* address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at = loopback(address, port);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

int FindPortRange(int count) {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int first = 20000 + static_cast<int>(random() % 40000);
        bool free = true;
        for (int port = first; free && port < first + count; ++port) {
            free = canBind("127.0.0.1", port) && canBind("127.0.0.2", port);
        }
        if (free) {
            return first;
        }
    }
    throw std::runtime_error("no free range of loopback ports");
}

DelayRelay::DelayRelay(int controlPort, const std::vector<int>& dataPorts,
                       std::chrono::microseconds delay)
    : m_delay(delay), m_controlPort(controlPort) {
    std::vector<int> ports = dataPorts;
    ports.insert(ports.begin(), controlPort);
    for (const int port : ports) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in at = loopback("127.0.0.1", port);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(fd, 64)) {
            ::close(fd);
            for (const auto& listener : m_listeners) {
                ::close(listener.first);
            }
            throw std::runtime_error("relay cannot listen on port " + std::to_string(port));
        }
        m_listeners.emplace_back(fd, port);
    }
    m_wake = ::eventfd(0, EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

DelayRelay::~DelayRelay() {
    const std::uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
    m_thread.join();
    for (const auto& listener : m_listeners) {
        ::close(listener.first);
    }
    ::close(m_wake);
}

DelayRelay::Counts DelayRelay::counts() const {
    std::lock_guard lock(m_mutex);
    return m_counts;
}

void DelayRelay::reset() {
    std::lock_guard lock(m_mutex);
    m_counts = {};
}

bool DelayRelay::waitIdle(std::chrono::milliseconds timeout) const {
    const auto end = Clock::now() + timeout;
    while (m_open.load() > 0) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void DelayRelay::record(const std::string& line) {
    std::string verb = line.substr(0, line.find(' '));
    for (char& c : verb) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    std::lock_guard lock(m_mutex);
    ++m_counts.commands;
    ++m_counts.verbs[verb];
    m_counts.lines.push_back(line);
}

void DelayRelay::run() {
    std::list<Connection> connections;
    std::vector<pollfd> fds;
    std::vector<Connection*> owners;  // per fds entry past the listeners
    std::string buffer(kReadSize, '\0');

    auto accept = [&](int listener, int port) {
        for (;;) {
            const int client = ::accept4(listener, nullptr, nullptr, 0);
            if (client < 0) {
                return;
            }
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to = loopback("127.0.0.2", port);
            if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
                ::close(server);
                ::close(client);  // the client sees the refusal as a close
                continue;
            }
            setUp(client);
            setUp(server);
            Connection& c = connections.emplace_back();
            c.up.from = c.down.to = client;
            c.up.to = c.down.from = server;
            c.control = port == m_controlPort;
            ++m_open;
            std::lock_guard lock(m_mutex);
            ++(c.control ? m_counts.controlConnections : m_counts.dataConnections);
        }
    };

    // Reads what from has; false on an error that ends the connection.
    auto read = [&](Connection& c, Direction& d) {
        const ssize_t n = ::recv(d.from, buffer.data(), buffer.size(), 0);
        if (n < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        const auto due = Clock::now() + m_delay;
        if (n == 0) {
            d.readEnd = true;
            d.queue.push_back({due, {}});
            return true;
        }
        std::string bytes(buffer.data(), static_cast<std::size_t>(n));
        if (c.control && &d == &c.up) {
            d.partial += bytes;
            for (auto end = d.partial.find('\n'); end != std::string::npos;
                 end = d.partial.find('\n')) {
                std::string line = d.partial.substr(0, end);
                d.partial.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                record(line);
            }
        }
        d.queued += bytes.size();
        d.queue.push_back({due, std::move(bytes)});
        return true;
    };

    for (;;) {
        const auto now = Clock::now();
        std::optional<Clock::time_point> next;
        for (auto it = connections.begin(); it != connections.end();) {
            Connection& c = *it;
            c.broken = c.broken || !flush(c.up, now) || !flush(c.down, now);
            if (c.broken || (c.up.done && c.down.done)) {
                // Closing both ends passes a failure on as a close.
                ::close(c.up.from);
                ::close(c.up.to);
                it = connections.erase(it);
                --m_open;
                continue;
            }
            for (const Direction* d : {&c.up, &c.down}) {
                if (!d->queue.empty() && !d->blocked && (!next || d->queue.front().due < *next)) {
                    next = d->queue.front().due;
                }
            }
            ++it;
        }

        fds.clear();
        owners.clear();
        fds.push_back({m_wake, POLLIN, 0});
        for (const auto& listener : m_listeners) {
            fds.push_back({listener.first, POLLIN, 0});
        }
        for (Connection& c : connections) {
            // An end with nothing to wait for stays out, or its hang-up
            // would wake the loop until the other direction is done.
            const short client = static_cast<short>((c.up.wantsRead() ? POLLIN : 0) |
                                                    (c.down.blocked ? POLLOUT : 0));
            const short server = static_cast<short>((c.down.wantsRead() ? POLLIN : 0) |
                                                    (c.up.blocked ? POLLOUT : 0));
            fds.push_back({client ? c.up.from : -1, client, 0});
            fds.push_back({server ? c.up.to : -1, server, 0});
            owners.push_back(&c);
        }
        timespec wait{};
        if (next) {
            const auto left = std::max(*next - Clock::now(), Clock::duration::zero());
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
            wait.tv_sec = seconds.count();
            wait.tv_nsec =
                std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count();
        }
        if (::ppoll(fds.data(), fds.size(), next ? &wait : nullptr, nullptr) < 0 &&
            errno != EINTR) {
            break;
        }
        if (fds[0].revents) {
            break;
        }
        for (std::size_t i = 0; i < m_listeners.size(); ++i) {
            if (fds[1 + i].revents & POLLIN) {
                accept(m_listeners[i].first, m_listeners[i].second);
            }
        }
        const std::size_t base = 1 + m_listeners.size();
        for (std::size_t i = 0; i < owners.size(); ++i) {
            Connection& c = *owners[i];
            for (int side = 0; side < 2; ++side) {
                const short revents = fds[base + 2 * i + static_cast<std::size_t>(side)].revents;
                Direction& reading = side == 0 ? c.up : c.down;
                Direction& writing = side == 0 ? c.down : c.up;
                if (revents & (POLLOUT | POLLERR | POLLHUP)) {
                    writing.blocked = false;  // the next send tells
                }
                if ((revents & (POLLIN | POLLERR | POLLHUP)) && reading.wantsRead()) {
                    c.broken = c.broken || !read(c, reading);
                }
            }
        }
    }
    for (Connection& c : connections) {
        ::close(c.up.from);
        ::close(c.up.to);
    }
    m_open = 0;
}

}  // namespace bench
