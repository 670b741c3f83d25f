#pragma once
// The simulator's TCP server: one thread, one poll loop, any number of connections (bare probes
// that connect and close, and configuration connections that stay open). Each read of a
// connection is taken as one request; each reply goes out in one send.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Socket.h"
#include "devtools/devsim/DeviceModel.h"
#include "devtools/devsim/Faults.h"
#include "devtools/devsim/Session.h"

namespace kbr::devsim {

class Server {
public:
    // At most this many connections are served at once. At the limit a new connection takes the
    // place of the one that has been idle longest (one that logged in only when every other did
    // too), so silent connections cannot lock the device.
    static constexpr size_t MAX_CONNECTIONS = 256;
    // A connection that has neither sent nor taken a byte for this long is closed, unless it
    // logged in: the configuration program keeps its connection for its whole run.
    static constexpr std::chrono::seconds DEFAULT_IDLE_TIMEOUT{60};
    // Work per connection and per round of the poll loop, so that every connection gets its
    // turn: one read (one request), or this many bytes of an oversized message being dropped.
    static constexpr size_t MAX_DROPPED_PER_ROUND = 16 * 1024;
    // New connections taken per round.
    static constexpr size_t MAX_ACCEPTS_PER_ROUND = 64;

    // How long a reboot (REQ_ACTION) keeps the device unreachable: no listening socket, so
    // connections are refused, as with a device that restarts.
    static constexpr std::chrono::milliseconds DEFAULT_REBOOT_TIME{2000};

    // Upgrade bytes that all connections together may hold while their sections arrive: two
    // sections of the largest size an upgrade can send (65536 chunks of 256 bytes).
    static constexpr size_t DEFAULT_TRANSFER_LIMIT = size_t{32} * 1024 * 1024;

    // idleTimeout 0: connections may stay silent for ever. requireLogin false: configuration
    // writes, upgrades and actions are served without a login first.
    Server(DeviceModel& device, std::vector<FaultSpec> faults, const Logger* logger = nullptr,
           std::chrono::milliseconds rebootTime = DEFAULT_REBOOT_TIME,
           std::chrono::seconds idleTimeout = DEFAULT_IDLE_TIMEOUT, bool requireLogin = true,
           size_t transferLimit = DEFAULT_TRANSFER_LIMIT);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens on "ADDR:PORT" (IPv4; port 0 picks a free port).
    [[nodiscard]] bool Listen(std::string_view address, std::string* error);
    // The address actually listened on, "127.0.0.1:40123".
    std::string ListenAddress() const;
    uint16_t Port() const { return port_; }

    // Serves until Stop(); false when the loop itself failed.
    bool Run();
    // Ends Run() soon; safe from any thread and from a signal handler.
    void Stop();

private:
    struct Connection;

    // Opens the listening socket on host_/port_.
    [[nodiscard]] bool OpenListener(const sockaddr_in& address, std::string* error);
    using Clock = std::chrono::steady_clock;

    void BeginReboot();
    void AcceptAll();
    // At the limit: closes the connection idle longest to make room for a new one.
    void MakeRoom();
    // Closes the connections idle for idleTimeout_; the time until the next one would be, or -1.
    int CloseIdle(Clock::time_point now);
    // Whether the idle timeout applies to a connection.
    bool MayTimeOut(const Connection& connection) const;
    // Drops more of an oversized message; false when the connection is to be dropped.
    bool DropRest(Connection& connection);
    // False when the connection is to be dropped.
    bool ReadRequest(Connection& connection);
    bool Flush(Connection& connection);

    DeviceModel& device_;
    std::vector<FaultSpec> faults_;
    const Logger* logger_;
    Logger silent_;
    platform::SocketHandle listenFd_ = platform::NO_SOCKET;
    platform::SocketWakeUp wake_;
    std::string host_;
    uint16_t port_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::chrono::milliseconds rebootTime_;
    std::chrono::seconds idleTimeout_;
    bool requireLogin_;
    TransferBudget budget_;
    bool rebootRequested_ = false;
    std::chrono::steady_clock::time_point listenAgainAt_;
};

// Splits "ADDR:PORT"; false for a missing colon or a port that is not 0-65535.
[[nodiscard]] bool SplitHostPort(std::string_view address, std::string& host, uint16_t& port);

}  // namespace kbr::devsim
