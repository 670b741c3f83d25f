#pragma once
// Hands the reads of a DeviceLink from its receive thread to the one thread that waits for them,
// for owners that run their operations on a thread of their own rather than on an event loop
// (the command-line tool, the tests and benchmarks).
//
// The receive thread posts each read (a copy: its buffer is reused by the next read) and the loss
// of the connection; the owner takes them in order. The common case costs one wake-up and no
// more: a post bumps a sequence counter and wakes the owner only when it is waiting, and the
// owner sleeps on that counter (a futex on Linux) only after it has found nothing to take.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "link/Messages.h"

namespace kbr {

class ReplyHandOver {
public:
    using Clock = std::chrono::steady_clock;

    enum class Taken {
        Reply,     // `reply` holds the bytes of one read
        Lost,      // the connection broke (every reply posted before the loss was taken first)
        TimedOut,  // nothing came before the deadline
    };

    // ---- The receive thread
    void PostReply(const uint8_t* bytes, int count);
    void PostLoss();

    // ---- The owner
    // Takes the next read, waiting until `deadline` (none: no limit). A loss stays reported
    // until Clear().
    Taken Take(Bytes& reply, std::optional<Clock::time_point> deadline);
    // Forgets everything posted so far (for a new connection).
    void Clear();

private:
    void Wake();
    // Sleeps while the counter still holds `seen`, at most until the deadline.
    void Sleep(uint32_t seen, std::optional<Clock::time_point> deadline);

    std::mutex mutex_;  // guards queue_ and lost_; never held while sleeping
    std::deque<Bytes> queue_;
    bool lost_ = false;
    std::atomic<uint32_t> sequence_{0};
    std::atomic<bool> waiting_{false};
#ifndef __linux__
    std::mutex sleepMutex_;
    std::condition_variable sleeping_;
#endif
};

}  // namespace kbr
