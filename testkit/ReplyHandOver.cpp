#include "testkit/ReplyHandOver.h"

#ifdef __linux__
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#endif

namespace kbr {

void ReplyHandOver::PostReply(const uint8_t* bytes, int count) {
    if (bytes == nullptr || count <= 0) return;
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(bytes, bytes + count);
    }
    Wake();
}

void ReplyHandOver::PostLoss() {
    {
        std::lock_guard lock(mutex_);
        lost_ = true;
    }
    Wake();
}

void ReplyHandOver::Clear() {
    std::lock_guard lock(mutex_);
    queue_.clear();
    lost_ = false;
}

ReplyHandOver::Taken ReplyHandOver::Take(Bytes& reply, std::optional<Clock::time_point> deadline) {
    for (;;) {
        // Read the counter before looking: a post after the look changes it, so the sleep below
        // returns at once instead of missing that post.
        const uint32_t seen = sequence_.load();
        {
            std::lock_guard lock(mutex_);
            if (!queue_.empty()) {
                reply = std::move(queue_.front());
                queue_.pop_front();
                return Taken::Reply;
            }
            if (lost_) return Taken::Lost;
        }
        if (deadline && Clock::now() >= *deadline) return Taken::TimedOut;
        Sleep(seen, deadline);
    }
}

void ReplyHandOver::Wake() {
    // Sequentially consistent on both sides: either the owner sees the new count before it
    // sleeps, or this sees it waiting and wakes it.
    sequence_.fetch_add(1);
    if (!waiting_.load()) return;
#ifdef __linux__
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&sequence_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
#else
    { std::lock_guard lock(sleepMutex_); }
    sleeping_.notify_one();
#endif
}

void ReplyHandOver::Sleep(uint32_t seen, std::optional<Clock::time_point> deadline) {
    waiting_.store(true);
    if (sequence_.load() == seen) {
#ifdef __linux__
        static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
        // FUTEX_WAIT_BITSET takes an absolute time on CLOCK_MONOTONIC, the steady clock's.
        timespec until{};
        if (deadline) {
            const auto since = deadline->time_since_epoch();
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
            until.tv_sec = static_cast<time_t>(seconds.count());
            until.tv_nsec =
                static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
        }
        ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&sequence_), FUTEX_WAIT_BITSET_PRIVATE, seen,
                  deadline ? &until : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
#else
        std::unique_lock lock(sleepMutex_);
        auto changed = [&] { return sequence_.load() != seen; };
        if (deadline) {
            sleeping_.wait_until(lock, *deadline, changed);
        } else {
            sleeping_.wait(lock, changed);
        }
#endif
    }
    waiting_.store(false);
}

}  // namespace kbr
