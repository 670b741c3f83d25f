#pragma once
// Runs the real kbr3300-devsim as a child process on loopback and talks to it like the program
// does: one request, one reply read. Every wait is bounded.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/Messages.h"
#include "platform/ChildProcess.h"
#include "platform/Socket.h"

namespace kbr::devsim::test {

using namespace std::chrono_literals;

class DevsimProcess {
public:
    DevsimProcess() = default;
    ~DevsimProcess();
    DevsimProcess(const DevsimProcess&) = delete;
    DevsimProcess& operator=(const DevsimProcess&) = delete;

    // Starts the simulator with --listen 127.0.0.1:0 and args, and reads its first line. False
    // (with the reason) when it did not print "listening on 127.0.0.1:PORT" in time.
    [[nodiscard]] bool Start(const std::vector<std::string>& args, std::string* error = nullptr);
    uint16_t Port() const { return port_; }
    const std::string& FirstLine() const { return firstLine_; }

    // Waits until the simulator's standard error holds `needle`.
    [[nodiscard]] bool WaitForStderr(std::string_view needle, std::chrono::milliseconds timeout = 5s);
    const std::string& Stderr();
    // Asks it to end (SIGTERM; Ctrl-Break on Windows) and waits; returns the exit status (-1 if it
    // had to be killed).
    int Stop();
    // Waits for the process to end by itself (e.g. after a usage error); exit status or -1.
    int WaitForExit(std::chrono::milliseconds timeout = 5s);

private:
    void DrainStderr(int timeoutMs);

    platform::ChildProcess process_;
    uint16_t port_ = 0;
    std::string firstLine_;
    std::string stderr_;
};

class Client {
public:
    Client() = default;
    ~Client();
    Client(Client&& other) noexcept;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    [[nodiscard]] bool Connect(uint16_t port);
    // Connects, trying again while the device refuses (e.g. during its reboot), up to timeout.
    [[nodiscard]] bool ConnectWithin(uint16_t port, std::chrono::milliseconds timeout = 10s);
    [[nodiscard]] bool Send(std::span<const uint8_t> bytes);
    // One read: the bytes, an empty vector when the device closed the connection, nothing on
    // time-out.
    std::optional<Bytes> Receive(std::chrono::milliseconds timeout = 5s);
    // Send, then one read; an empty vector on any failure.
    Bytes Exchange(std::span<const uint8_t> request);
    // Logs in on this connection, as the configuration program does before it writes the
    // settings, upgrades or reboots; true when the device took the password.
    [[nodiscard]] bool LogIn(std::string_view password = "admin");
    void Close();

private:
    platform::SocketHandle fd_ = platform::NO_SOCKET;
};

// Header fields of a reply (type 0xFF when shorter than a header).
MessageHeader HeaderOf(std::span<const uint8_t> reply);
// The value text of an accepted REP_VALUE, or why there is none, in brackets.
std::string ValueText(std::span<const uint8_t> reply);

// An upgrade image section: 16 start bytes, the tags, payload bytes up to `size`, and the CRC in
// the last four bytes, so that the device accepts it at install.
Bytes MakeSection(size_t size, const std::vector<std::pair<std::string, std::string>>& tags, uint8_t seed);

// Sends a whole section the way the upgrade does: start, then 256-byte chunks; returns the
// replies' types in order (empty on a broken exchange).
std::vector<uint8_t> UploadSection(Client& client, std::span<const uint8_t> section);

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& Path() const { return path_; }
    std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

std::optional<Bytes> ReadWholeFile(const std::string& path);

// A loopback port where nothing listens (bound for a moment, then released).
uint16_t UnusedLoopbackPort();

}  // namespace kbr::devsim::test
