#pragma once
// Polls a condition every 10 ms until it holds or the time is up; the condition's last answer. For
// tests that wait for another process or thread to do something.
#include <chrono>
#include <functional>
#include <thread>

namespace kbr::testkit {

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

}  // namespace kbr::testkit
