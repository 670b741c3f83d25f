#pragma once
// The background half of an IP address refresh: runs the IP helper twice, one run after the
// other, then probes the device's configuration address once, and reports through two flags
// that the wait dialog polls.

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/ProgramNames.h"

namespace kbr {

// Where the device answers while it is in configuration mode.
inline constexpr const char* REFRESH_PROBE_ADDRESS = platform::DEVICE_ADDRESS;
inline constexpr const char* REFRESH_PROBE_PORT = platform::DEVICE_PORT;
inline constexpr int REFRESH_POLL_MS = 1000;
// Parameter the refresh passes to the helper, twice.
inline constexpr const char* IP_HELPER_REFRESH_ARGUMENT = "2";

// The two flags of one refresh. Each refresh gets a fresh pair, and a worker only ever holds the
// pair of its own refresh, so a worker left over from an earlier refresh can never set the flags
// of the next one. DeviceStillReachable is written before RefreshDone, so once RefreshDone is
// seen the probe result is final.
struct RefreshFlags {
    std::atomic<bool> DeviceStillReachable{false};
    std::atomic<bool> RefreshDone{false};
};

// Runs the IP helper once with the refresh parameter in the given directory and returns when it
// has ended.
using HelperRunner = std::function<void(const QString& directory)>;

// How a refresh reaches the outside world. The program uses the defaults; tests replace the
// helper with a recording stub and point the probe at a loopback listener.
struct RefreshSettings {
    QString directory;       // where the helper runs and leaves its files; empty: current directory
    HelperRunner runHelper;  // empty: the real helper program (IpHelperProgram)
    std::string probeAddress = REFRESH_PROBE_ADDRESS;
    std::string probePort = REFRESH_PROBE_PORT;
    int pollIntervalMs = REFRESH_POLL_MS;
};

class RefreshWorker {
public:
    RefreshWorker(std::shared_ptr<RefreshFlags> flags, RefreshSettings settings);
    RefreshWorker(const RefreshWorker&) = delete;
    RefreshWorker& operator=(const RefreshWorker&) = delete;
    // Waits for a worker that has finished its work; one still busy is left to end by itself
    // (it holds everything it uses).
    ~RefreshWorker();

    // Starts the work on a thread of its own. False when no thread could be made; the flags then
    // stay as they are.
    [[nodiscard]] bool Start();

    // The work itself, on the calling thread.
    static void Run(RefreshFlags& flags, const RefreshSettings& settings);

private:
    std::shared_ptr<RefreshFlags> flags_;
    RefreshSettings settings_;
    // Set when the thread's work is over (RefreshDone itself is cleared by whoever noticed it).
    std::shared_ptr<std::atomic<bool>> finished_ = std::make_shared<std::atomic<bool>>(false);
    std::thread thread_;
};

}  // namespace kbr
