#pragma once
// A hold on one running process that stays with that process: a signal sent through it never
// reaches another process that was later given the same pid. Linux only (a pidfd); no Qt.

#include <chrono>
#include <cstdint>

#include "platform/PrivateFolder.h"

namespace kbr::platform {

class ProcessHandle {
public:
    ProcessHandle() = default;
    // A hold on the process `pid` now; not Valid() when there is none (it is gone, or the system
    // has no pidfd).
    [[nodiscard]] static ProcessHandle Open(int64_t pid);

    bool Valid() const { return fd_.Valid(); }
    int64_t Pid() const { return pid_; }
    // The very process that was opened has not ended.
    bool Alive() const;
    // Sends `signal` to that process only; false when it has ended or may not be signalled.
    [[nodiscard]] bool Signal(int signal) const;
    // Waits at most `limit` for it to end; true once it has.
    bool WaitEnded(std::chrono::milliseconds limit) const;

private:
    Descriptor fd_;
    int64_t pid_ = 0;
};

}  // namespace kbr::platform
