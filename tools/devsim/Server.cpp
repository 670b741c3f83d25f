#include "tools/devsim/Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "link/Messages.h"
#include "tools/devsim/Session.h"

namespace kbr::devsim {

namespace {

bool SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

std::string AddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

bool SplitHostPort(std::string_view address, std::string& host, uint16_t& port) {
    const size_t colon = address.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    const std::string_view portText = address.substr(colon + 1);
    unsigned value = 0;
    auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() || value > 65535) {
        return false;
    }
    host = std::string(address.substr(0, colon));
    port = static_cast<uint16_t>(value);
    return true;
}

struct Server::Connection {
    int fd = -1;
    std::string peer;
    Session session;
    Bytes pending;  // the part of a reply the socket did not take yet
    size_t pendingOffset = 0;
    bool closeAfterFlush = false;
    bool droppingRest = false;  // the rest of an oversized message is still coming in
    Clock::time_point lastActive = Clock::now();  // a byte received or sent

    Connection(int socket, std::string name, DeviceModel& device, std::span<const FaultSpec> faults,
               const Logger* logger)
        : fd(socket), peer(name), session(device, faults, std::move(name), logger) {}
    ~Connection() {
        if (fd >= 0) ::close(fd);
    }
};

Server::Server(DeviceModel& device, std::vector<FaultSpec> faults, const Logger* logger,
               std::chrono::milliseconds rebootTime, std::chrono::seconds idleTimeout)
    : device_(device),
      faults_(std::move(faults)),
      logger_(logger ? logger : &silent_),
      rebootTime_(rebootTime),
      idleTimeout_(idleTimeout) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    }
}

Server::~Server() {
    connections_.clear();
    for (int fd : {listenFd_, wakeRead_, wakeWrite_}) {
        if (fd >= 0) ::close(fd);
    }
}

bool Server::Listen(std::string_view address, std::string* error) {
    std::string host;
    uint16_t port = 0;
    if (!SplitHostPort(address, host, port)) {
        return SetError(error, "--listen '" + std::string(address) + "' is not ADDR:PORT with a port 0-65535");
    }
    if (wakeRead_ < 0) return SetError(error, std::string("cannot create the wake-up pipe: ") + std::strerror(errno));

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0 || !found) {
        return SetError(error, "cannot listen on " + std::string(address) + ": " + ::gai_strerror(rc));
    }
    sockaddr_in bindAddress{};
    std::memcpy(&bindAddress, found->ai_addr, sizeof bindAddress);
    ::freeaddrinfo(found);
    bindAddress.sin_port = htons(port);

    if (!OpenListener(bindAddress, error)) return false;
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &bound.sin_addr, text, sizeof text);
    host_ = text;
    port_ = ntohs(bound.sin_port);
    return true;
}

bool Server::OpenListener(const sockaddr_in& address, std::string* error) {
    const std::string name = AddressText(address);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return SetError(error, std::string("cannot create a socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        const int saved = errno;
        ::close(fd);
        std::string text = "cannot listen on " + name + ": " + std::strerror(saved);
        if (saved == EADDRNOTAVAIL) {
            text += " (the device address exists only inside a private network namespace; for tests use "
                    "--listen 127.0.0.1:0)";
        }
        return SetError(error, text);
    }
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = fd;
    return true;
}

std::string Server::ListenAddress() const { return host_ + ":" + std::to_string(port_); }

void Server::Stop() {
    if (wakeWrite_ >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
    }
}

bool Server::MayTimeOut(const Connection& connection) const {
    return idleTimeout_.count() > 0 && !connection.session.LoggedIn();
}

int Server::CloseIdle(Clock::time_point now) {
    if (idleTimeout_.count() == 0) return -1;
    Clock::duration next = Clock::duration::max();
    std::erase_if(connections_, [&](const std::unique_ptr<Connection>& connection) {
        if (!MayTimeOut(*connection)) return false;
        const Clock::duration left = connection->lastActive + idleTimeout_ - now;
        if (left <= Clock::duration::zero()) {
            logger_->Info(connection->peer + ": closed, idle for " + std::to_string(idleTimeout_.count()) + " s");
            return true;
        }
        next = std::min(next, left);
        return false;
    });
    if (next == Clock::duration::max()) return -1;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next).count());
}

void Server::MakeRoom() {
    if (connections_.size() < MAX_CONNECTIONS) return;
    // The longest idle of those that may time out; of all only when every one logged in.
    auto idlest = connections_.end();
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (idlest == connections_.end()) {
            idlest = it;
            continue;
        }
        const bool better = MayTimeOut(**it) != MayTimeOut(**idlest) ? MayTimeOut(**it)
                                                                      : (*it)->lastActive < (*idlest)->lastActive;
        if (better) idlest = it;
    }
    logger_->Info((*idlest)->peer + ": closed to make room for a new connection");
    connections_.erase(idlest);
}

void Server::AcceptAll() {
    for (size_t accepted = 0; accepted < MAX_ACCEPTS_PER_ROUND; ++accepted) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                logger_->Problem(std::string("accept failed: ") + std::strerror(errno));
            }
            return;
        }
        const std::string name = AddressText(peer);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        MakeRoom();
        logger_->Info(name + ": connected");
        connections_.push_back(std::make_unique<Connection>(fd, name, device_, faults_, logger_));
    }
}

bool Server::DropRest(Connection& connection) {
    uint8_t rest[RECEIVE_BUFFER_SIZE];
    for (size_t dropped = 0; dropped < MAX_DROPPED_PER_ROUND;) {
        const ssize_t n = ::recv(connection.fd, rest, sizeof rest, MSG_DONTWAIT);
        if (n > 0) {
            dropped += static_cast<size_t>(n);
            connection.lastActive = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            connection.droppingRest = false;  // all of it is gone: what comes next is a request
            return true;
        }
        if (n == 0) logger_->Info(connection.peer + ": closed by the client");
        return false;
    }
    return true;  // more next round
}

bool Server::ReadRequest(Connection& connection) {
    if (connection.droppingRest) return DropRest(connection);
    // One byte more than any request may be, so that an oversized one is recognised.
    uint8_t buffer[RECEIVE_BUFFER_SIZE + 1];
    ssize_t n;
    do {
        n = ::recv(connection.fd, buffer, sizeof buffer, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (n == 0) {
        logger_->Info(connection.peer + ": closed by the client");
        return false;
    }
    connection.lastActive = Clock::now();
    if (static_cast<size_t>(n) > RECEIVE_BUFFER_SIZE) {
        // Drop the rest of the oversized message (the session only looks at its size) before the
        // session reports it: what is already here now, what is still to come in the following
        // rounds, a bounded amount each, so that a client streaming without pause cannot keep
        // the others waiting.
        connection.droppingRest = true;
        if (!DropRest(connection)) return false;
    }
    Outcome outcome = connection.session.Handle(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
    if (outcome.reply) {
        connection.pending = std::move(*outcome.reply);
        connection.pendingOffset = 0;
    }
    if (outcome.close) {
        logger_->Info(connection.peer + (outcome.reboot ? ": the device reboots" : ": closed by the device"));
        connection.closeAfterFlush = true;
    }
    if (outcome.reboot) rebootRequested_ = true;
    return Flush(connection);
}

void Server::BeginReboot() {
    // Listener first: once a client sees its connection end, new connections are refused.
    ::close(listenFd_);
    listenFd_ = -1;
    connections_.clear();
    rebootRequested_ = false;
    listenAgainAt_ = std::chrono::steady_clock::now() + rebootTime_;
    logger_->Info("rebooting: unreachable for " + std::to_string(rebootTime_.count()) + " ms");
}

bool Server::Flush(Connection& connection) {
    while (connection.pendingOffset < connection.pending.size()) {
        const ssize_t n = ::send(connection.fd, connection.pending.data() + connection.pendingOffset,
                                 connection.pending.size() - connection.pendingOffset, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return true;  // the rest when the socket drains
            logger_->Info(connection.peer + ": send failed: " + std::strerror(errno));
            return false;
        }
        connection.pendingOffset += static_cast<size_t>(n);
        connection.lastActive = Clock::now();
    }
    connection.pending.clear();
    connection.pendingOffset = 0;
    return !connection.closeAfterFlush;
}

bool Server::Run() {
    if (listenFd_ < 0) return false;
    std::vector<pollfd> fds;
    std::vector<std::unique_ptr<Connection>> dropped;  // closed at the end of each round
    for (;;) {
        int timeoutMs = -1;
        if (listenFd_ < 0) {
            // Rebooting: back on the same address when the time is up.
            const auto now = std::chrono::steady_clock::now();
            if (now >= listenAgainAt_) {
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(port_);
                ::inet_pton(AF_INET, host_.c_str(), &address.sin_addr);
                std::string error;
                if (OpenListener(address, &error)) {
                    logger_->Info("reboot done: listening on " + ListenAddress() + " again");
                } else {
                    logger_->Problem(error + "; trying again");
                    listenAgainAt_ = now + std::chrono::milliseconds(500);
                }
            }
            if (listenFd_ < 0) {
                timeoutMs = static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(listenAgainAt_ - std::chrono::steady_clock::now())
                        .count());
                timeoutMs = std::max(timeoutMs, 0);
            }
        }
        const int idleMs = CloseIdle(Clock::now());
        if (idleMs >= 0 && (timeoutMs < 0 || idleMs < timeoutMs)) timeoutMs = idleMs;
        fds.clear();
        fds.push_back({wakeRead_, POLLIN, 0});
        // At the connection limit a new connection takes an idle one's place (MakeRoom).
        fds.push_back({listenFd_, static_cast<short>(listenFd_ >= 0 ? POLLIN : 0), 0});
        for (const auto& connection : connections_) {
            // While a reply is still going out, the next request waits: one exchange at a time.
            const short events = connection->pending.empty() ? POLLIN : POLLOUT;
            fds.push_back({connection->fd, events, 0});
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
            if (errno == EINTR) continue;
            logger_->Problem(std::string("poll failed: ") + std::strerror(errno));
            return false;
        }
        if (fds[0].revents) {
            char drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
            return true;
        }
        // Connections first (their indices match fds), new ones after. Ended connections are
        // taken out in place, so a round allocates nothing.
        size_t kept = 0;
        for (size_t i = 0; i < connections_.size(); ++i) {
            Connection& connection = *connections_[i];
            const short revents = fds[i + 2].revents;
            bool keep = true;
            if (revents & POLLOUT) {
                keep = Flush(connection);
            } else if (revents & (POLLIN | POLLHUP | POLLERR)) {
                keep = ReadRequest(connection);
            }
            if (!keep) {
                dropped.push_back(std::move(connections_[i]));
            } else if (kept != i) {
                connections_[kept] = std::move(connections_[i]);
            }
            if (keep) ++kept;
        }
        connections_.resize(kept);
        if (rebootRequested_) {
            // Before the rebooting connection closes, so that a client that sees it end finds
            // the device unreachable.
            BeginReboot();
        } else if (fds[1].revents & POLLIN) {
            AcceptAll();
        }
        dropped.clear();
    }
}

}  // namespace kbr::devsim
