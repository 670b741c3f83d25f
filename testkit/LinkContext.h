#pragma once
// A page window reduced to what an operation needs, over a real link on loopback: the operations
// run on the synchronous OperationRunner (the one kbr3300ctl runs its commands on), OPERATION_TIMER
// runs on the real clock, and the "user" answers Yes. What the operation did is kept as a window
// would show it. Used by the end-to-end tests of the operations and the upgrade benchmark against
// kbr3300-devsim on loopback.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/OperationRunner.h"
#include "link/PageFunction.h"

namespace kbr::test {

class LinkContext {
    // Made before every member below: `state` refers into it.
    OperationRunner runner_;

public:
    LinkContext();

    [[nodiscard]] bool Connect(uint16_t port);

    // Runs the operation of a page function until it is no longer active, as the page window
    // does. A lost link drops it, as the main window does (and hides the progress window). False
    // when `limit` passed first.
    bool RunOperation(PageFunction function, std::string_view args, std::chrono::milliseconds limit);

    // ---- What happened
    std::vector<int> completions;
    std::vector<std::string> messages;
    std::vector<std::string> pageCalls;
    size_t requestsSent = 0;
    bool linkLost = false;
    bool progressVisible = false;
    int progressMaximum = -1;
    int progressPosition = 0;
    PageDeviceState& state;
};

}  // namespace kbr::test
