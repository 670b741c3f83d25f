#pragma once
// One client connection of the simulated device: takes each received request (one read of the
// connection), answers it as the device would, and applies the injected faults. Knows nothing of
// sockets, so tests and the fuzz target drive it directly.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/Messages.h"
#include "devtools/devsim/DeviceModel.h"
#include "devtools/devsim/Faults.h"

namespace kbr::devsim {

// What to do after a request: send the reply (if any), then close the connection if asked. A
// reboot closes every connection and leaves the device unreachable for a moment.
struct Outcome {
    std::optional<Bytes> reply;
    bool close = false;
    bool reboot = false;
};

// The upgrade bytes that connections hold while a section arrives, counted across all of them:
// one connection may gather a section of up to 16 MiB, and a server serves hundreds at once.
class TransferBudget {
public:
    explicit TransferBudget(size_t limit) : limit_(limit) {}
    // False, taking nothing, when the bytes would pass the limit.
    [[nodiscard]] bool Take(size_t bytes) {
        if (bytes > limit_ - inUse_) return false;
        inUse_ += bytes;
        return true;
    }
    void Give(size_t bytes) { inUse_ -= std::min(bytes, inUse_); }
    size_t Limit() const { return limit_; }
    size_t InUse() const { return inUse_; }

private:
    size_t limit_;
    size_t inUse_ = 0;
};

// What the connections of a simulator may do and hold.
struct SessionRules {
    // Configuration writes, upgrades and actions need a successful login on the connection first,
    // as on the device; a test of a client that never logs in turns this off.
    bool requireLogin = true;
    // Shared by all connections of a server; nullptr: none beyond what one section can hold.
    TransferBudget* budget = nullptr;
};

class Session {
public:
    Session(DeviceModel& device, std::span<const FaultSpec> faults, std::string peer, const Logger* logger = nullptr,
            SessionRules rules = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Outcome Handle(std::span<const uint8_t> request);
    // A login with the right password was made on this connection (by the configuration program,
    // which keeps its connection for its whole run).
    bool LoggedIn() const { return loggedIn_; }

private:
    // The upgrade transfer of this connection. A REQ_UPGRADE_START begins section 1 of a new image,
    // or section 2 once section 1 arrived whole; a new start after both sections begins a new image.
    // A start while a section is under way begins that section again (the program's retry).
    struct Transfer {
        enum class State { Idle, Receiving, Rejected } state = State::Idle;
        int section = 1;            // the section being received
        int completedSections = 0;  // of the current image: 0, 1 or 2
        std::vector<uint8_t> data;  // assembled so far
        uint32_t nextIndex = 0;     // index of the chunk expected next
        std::optional<uint16_t> lastRemaining;
    };

    Bytes Reply(uint8_t type, uint8_t status, uint8_t param = 0) const;
    // A request that needs a login, before one: one line on the log and a failure reply.
    Bytes NotLoggedIn(uint8_t requestType, uint8_t replyType);
    // Lets go of the section gathered so far, and of its share of the budget.
    void DropTransferData();
    Bytes FaultReply(uint8_t requestType, FaultAction action) const;
    // A malformed request of a known type: one line on the log and a failure reply.
    Bytes BadRequest(uint8_t requestType, const std::string& why);
    void NoteTrailingBytes(uint8_t requestType, size_t received, size_t expected);

    Bytes HandleLogin(std::span<const uint8_t> request);
    Bytes HandleGetConfig(std::span<const uint8_t> request);
    Bytes HandleSetConfig(std::span<const uint8_t> request);
    Bytes HandleGetDiag(std::span<const uint8_t> request);
    Bytes HandleUpgradeStart(std::span<const uint8_t> request);
    Bytes HandleUpgradeData(std::span<const uint8_t> request);
    Bytes HandleAction(std::span<const uint8_t> request);
    Bytes HandleGetValue(std::span<const uint8_t> request);

    DeviceModel& device_;
    std::vector<FaultSpec> faults_;
    std::string peer_;
    const Logger* logger_;
    Logger silent_;
    SessionRules rules_;
    std::array<unsigned, 256> requestCounts_{};
    bool rebooting_ = false;
    bool loggedIn_ = false;
    Transfer transfer_;
};

}  // namespace kbr::devsim
