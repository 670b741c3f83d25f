// Feeds a run of requests to one simulated connection. The input is a sequence of records, each a
// 16-bit big-endian length and that many bytes (cut short at the end of the input); each record is
// one read of the connection; after a close (a fault, a reboot) the next record goes to a new
// connection of the same device. The first byte chooses a set of injected faults, whether
// requests that need a login are refused before one (bit 16) and a small budget of upgrade bytes
// (bit 32).
//
// Besides the sanitizers' checks, every reply must keep the promises of the device: a complete
// header, at most 2024 bytes, and never exactly 16 bytes (no short16 fault is chosen here).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "link/Messages.h"
#include "devtools/devsim/DeviceModel.h"
#include "devtools/devsim/Faults.h"
#include "devtools/devsim/Session.h"

using namespace kbr;
using namespace kbr::devsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> input(data, size);
    std::vector<FaultSpec> faults;
    TransferBudget budget(4096);
    SessionRules rules{false, nullptr};
    if (!input.empty()) {
        const uint8_t choice = input[0];
        input = input.subspan(1);
        if (choice & 1) faults.push_back({REQ_UPGRADE_DATA, 2, FaultAction::Status});
        if (choice & 2) faults.push_back({REQ_GET_VALUE, 1, FaultAction::WrongType});
        if (choice & 4) faults.push_back({REQ_SET_CONFIG, 1, FaultAction::Silent});
        if (choice & 8) faults.push_back({REQ_UPGRADE_START, 2, FaultAction::Close});
        rules.requireLogin = (choice & 16) != 0;
        if (choice & 32) rules.budget = &budget;
    }

    DeviceModel device(DeviceIdentity{}, DeviceSettings{});
    std::optional<Session> session;
    session.emplace(device, faults, "fuzz", nullptr, rules);
    while (input.size() >= 2) {
        size_t length = (size_t{input[0]} << 8) | input[1];
        input = input.subspan(2);
        length = std::min(length, input.size());
        const Outcome outcome = session->Handle(input.subspan(0, length));
        input = input.subspan(length);
        if (outcome.reply) {
            const Bytes& reply = *outcome.reply;
            if (reply.size() < MESSAGE_HEADER_SIZE || reply.size() > RECEIVE_BUFFER_SIZE) std::abort();
            if (reply.size() == UNDELIVERED_READ_SIZE) std::abort();
        }
        // A closed connection (fault or reboot): the client connects again to the same device.
        if (outcome.close) session.emplace(device, faults, "fuzz", nullptr, rules);
    }
    session.reset();
    if (budget.InUse() != 0) std::abort();  // every connection gave back what it held
    return 0;
}
