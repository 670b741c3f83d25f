#include "devtools/devsim/Server.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "link/Messages.h"
#include "devtools/devsim/Session.h"

namespace kbr::devsim {

namespace {

namespace net = kbr::platform;

std::string LastError() { return net::SocketErrorText(net::LastSocketError()); }

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
    net::SocketHandle fd = net::NO_SOCKET;
    std::string peer;
    Session session;
    Bytes pending;  // the part of a reply the socket did not take yet
    size_t pendingOffset = 0;
    bool closeAfterFlush = false;
    bool droppingRest = false;                    // the rest of an oversized message is still coming in
    Clock::time_point lastActive = Clock::now();  // a byte received or sent

    Connection(net::SocketHandle socket, std::string name, DeviceModel& device, std::span<const FaultSpec> faults,
               const Logger* logger, SessionRules rules)
        : fd(socket), peer(name), session(device, faults, std::move(name), logger, rules) {}
    ~Connection() { net::CloseSocket(fd); }
};

Server::Server(DeviceModel& device, std::vector<FaultSpec> faults, const Logger* logger,
               std::chrono::milliseconds rebootTime, std::chrono::seconds idleTimeout, bool requireLogin,
               size_t transferLimit)
    : device_(device),
      faults_(std::move(faults)),
      logger_(logger ? logger : &silent_),
      rebootTime_(rebootTime),
      idleTimeout_(idleTimeout),
      requireLogin_(requireLogin),
      budget_(transferLimit) {}

Server::~Server() {
    connections_.clear();
    net::CloseSocket(listenFd_);
}

bool Server::Listen(std::string_view address, std::string* error) {
    std::string host;
    uint16_t port = 0;
    if (!SplitHostPort(address, host, port)) {
        return SetError(error, "--listen '" + std::string(address) + "' is not ADDR:PORT with a port 0-65535");
    }
    if (!wake_.Valid()) return SetError(error, "cannot create the wake-up channel: " + LastError());

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
    net::SocketLength length = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &bound.sin_addr, text, sizeof text);
    host_ = text;
    port_ = ntohs(bound.sin_port);
    return true;
}

bool Server::OpenListener(const sockaddr_in& address, std::string* error) {
    const std::string name = AddressText(address);
    const net::SocketHandle fd = net::OpenSocket(SOCK_STREAM, true);
    if (fd == net::NO_SOCKET) return SetError(error, "cannot create a socket: " + LastError());
    net::AllowQuickRebind(fd);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        const int saved = net::LastSocketError();
        net::CloseSocket(fd);
        std::string text = "cannot listen on " + name + ": " + net::SocketErrorText(saved);
        if (net::IsAddressUnavailable(saved)) {
            text +=
                " (the device address exists only inside a private network namespace; for tests use "
                "--listen 127.0.0.1:0)";
        }
        return SetError(error, text);
    }
    net::CloseSocket(listenFd_);
    listenFd_ = fd;
    return true;
}

std::string Server::ListenAddress() const { return host_ + ":" + std::to_string(port_); }

void Server::Stop() { wake_.Notify(); }

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
    auto idlest = connections_.begin();
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        const bool better =
            MayTimeOut(**it) != MayTimeOut(**idlest) ? MayTimeOut(**it) : (*it)->lastActive < (*idlest)->lastActive;
        if (better) idlest = it;
    }
    logger_->Info((*idlest)->peer + ": closed to make room for a new connection");
    connections_.erase(idlest);
}

void Server::AcceptAll() {
    for (size_t accepted = 0; accepted < MAX_ACCEPTS_PER_ROUND; ++accepted) {
        sockaddr_in peer{};
        const net::SocketHandle fd = net::AcceptSocket(listenFd_, &peer, true);
        if (fd == net::NO_SOCKET) {
            const int error = net::LastSocketError();
            if (net::IsInterrupted(error) || net::IsConnectionAborted(error)) continue;
            if (!net::IsWouldBlock(error)) logger_->Problem("accept failed: " + net::SocketErrorText(error));
            return;
        }
        const std::string name = AddressText(peer);
        net::SetSocketOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
        MakeRoom();
        logger_->Info(name + ": connected");
        connections_.push_back(
            std::make_unique<Connection>(fd, name, device_, faults_, logger_, SessionRules{requireLogin_, &budget_}));
    }
}

bool Server::DropRest(Connection& connection) {
    uint8_t rest[RECEIVE_BUFFER_SIZE];
    for (size_t dropped = 0; dropped < MAX_DROPPED_PER_ROUND;) {
        const long n = net::ReceiveSome(connection.fd, rest, sizeof rest);  // non-blocking
        if (n > 0) {
            dropped += static_cast<size_t>(n);
            connection.lastActive = Clock::now();
            continue;
        }
        const int error = n < 0 ? net::LastSocketError() : 0;
        if (n < 0 && net::IsInterrupted(error)) continue;
        if (n < 0 && net::IsWouldBlock(error)) {
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
    long n;
    int readError = 0;
    do {
        n = net::ReceiveSome(connection.fd, buffer, sizeof buffer);
        readError = n < 0 ? net::LastSocketError() : 0;
    } while (n < 0 && net::IsInterrupted(readError));
    if (n < 0) return net::IsWouldBlock(readError);
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
    net::CloseSocket(listenFd_);
    listenFd_ = net::NO_SOCKET;
    connections_.clear();
    rebootRequested_ = false;
    listenAgainAt_ = std::chrono::steady_clock::now() + rebootTime_;
    logger_->Info("rebooting: unreachable for " + std::to_string(rebootTime_.count()) + " ms");
}

bool Server::Flush(Connection& connection) {
    while (connection.pendingOffset < connection.pending.size()) {
        const long n = net::SendSome(connection.fd, connection.pending.data() + connection.pendingOffset,
                                     connection.pending.size() - connection.pendingOffset);
        if (n < 0) {
            const int error = net::LastSocketError();
            if (net::IsInterrupted(error)) continue;
            if (net::IsWouldBlock(error)) return true;  // the rest when the socket drains
            logger_->Info(connection.peer + ": send failed: " + net::SocketErrorText(error));
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
    if (listenFd_ == net::NO_SOCKET) return false;
    std::vector<net::SocketPollEntry> fds;
    std::vector<std::unique_ptr<Connection>> dropped;  // closed at the end of each round
    for (;;) {
        int timeoutMs = -1;
        if (listenFd_ == net::NO_SOCKET) {
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
            if (listenFd_ == net::NO_SOCKET) {
                timeoutMs = static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(listenAgainAt_ - std::chrono::steady_clock::now())
                        .count());
                timeoutMs = std::max(timeoutMs, 0);
            }
        }
        const int idleMs = CloseIdle(Clock::now());
        if (idleMs >= 0 && (timeoutMs < 0 || idleMs < timeoutMs)) timeoutMs = idleMs;
        fds.clear();
        fds.push_back({wake_.Handle(), POLLIN, 0});
        // While rebooting new connections wait in the backlog; at the connection limit a new one
        // takes an idle one's place (MakeRoom).
        const bool accepting = listenFd_ != net::NO_SOCKET;
        if (accepting) fds.push_back({listenFd_, POLLIN, 0});
        const size_t firstConnection = fds.size();
        for (const auto& connection : connections_) {
            // While a reply is still going out, the next request waits: one exchange at a time.
            const short events = connection->pending.empty() ? POLLIN : POLLOUT;
            fds.push_back({connection->fd, events, 0});
        }
        if (net::PollSockets(fds.data(), fds.size(), timeoutMs) < 0) {
            const int error = net::LastSocketError();
            if (net::IsInterrupted(error)) continue;
            logger_->Problem("poll failed: " + net::SocketErrorText(error));
            return false;
        }
        if (fds[0].revents) {
            wake_.Drain();
            return true;
        }
        // Connections first (their indices match fds), new ones after. Ended connections are
        // taken out in place, so a round allocates nothing.
        size_t kept = 0;
        for (size_t i = 0; i < connections_.size(); ++i) {
            Connection& connection = *connections_[i];
            const short revents = fds[firstConnection + i].revents;
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
        } else if (accepting && (fds[1].revents & POLLIN)) {
            AcceptAll();
        }
        dropped.clear();
    }
}

}  // namespace kbr::devsim
