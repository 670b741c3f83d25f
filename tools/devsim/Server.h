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
#include "tools/devsim/DeviceModel.h"
#include "tools/devsim/Faults.h"

namespace kbr::devsim {

class Server {
public:
    // At most this many connections are served at once; further ones wait in the listen backlog
    // until one ends (a burst of bare probes never turns a configuration connection away).
    static constexpr size_t MAX_CONNECTIONS = 256;

    // How long a reboot (REQ_ACTION) keeps the device unreachable: no listening socket, so
    // connections are refused, as with a device that restarts.
    static constexpr std::chrono::milliseconds DEFAULT_REBOOT_TIME{2000};

    Server(DeviceModel& device, std::vector<FaultSpec> faults, const Logger* logger = nullptr,
           std::chrono::milliseconds rebootTime = DEFAULT_REBOOT_TIME);
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
    void BeginReboot();
    void AcceptAll();
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
    bool rebootRequested_ = false;
    std::chrono::steady_clock::time_point listenAgainAt_;
};

// Splits "ADDR:PORT"; false for a missing colon or a port that is not 0-65535.
[[nodiscard]] bool SplitHostPort(std::string_view address, std::string& host, uint16_t& port);

}  // namespace kbr::devsim
