#pragma once
// Injected faults: "REQ:N:ACTION" makes the N-th request of type REQ on a connection get ACTION
// instead of its normal answer. A faulted request is not carried out (nothing is stored, no chunk
// is taken), so a client that retries after the fault finds the device as it was.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kbr::devsim {

enum class FaultAction {
    Status,     // the right reply type with status 1
    WrongType,  // a header-only reply of another type, status 0
    Short16,    // a reply of exactly 16 bytes (never delivered by the program's link)
    Silent,     // no reply at all
    Close,      // the connection is closed without a reply
};

struct FaultSpec {
    uint8_t requestType = 0;
    unsigned nth = 1;  // counted from 1, per connection and per request type
    FaultAction action = FaultAction::Status;
};

// Parses "REQ:N:ACTION" (e.g. "12:3:status"); REQ is a request type number, N >= 1.
std::optional<FaultSpec> ParseFaultSpec(std::string_view text, std::string* error = nullptr);
const char* FaultActionName(FaultAction action);

}  // namespace kbr::devsim
