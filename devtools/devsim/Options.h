#pragma once
// The simulator's command line.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devtools/devsim/DeviceModel.h"
#include "devtools/devsim/Faults.h"
#include "platform/ProgramNames.h"

namespace kbr::devsim {

// Only ever used inside a private network namespace where this address sits on the loopback.
inline const std::string DEFAULT_LISTEN = std::string(platform::DEVICE_ADDRESS) + ":" + platform::DEVICE_PORT;

struct Options {
    std::string listen = DEFAULT_LISTEN;
    DeviceIdentity identity;
    DeviceSettings settings;  // factory settings; --password sets admPswd
    std::string statePath;
    std::string dumpDir;
    std::vector<FaultSpec> faults;
    std::chrono::milliseconds rebootTime{2000};
    std::chrono::seconds idleTimeout{60};  // 0: connections may stay silent for ever
    bool requireLogin = true;              // --no-login-check turns it off
    bool verbose = false;
    bool help = false;
};

// Parses argv[1..]; nothing (and a message naming the bad argument) on a usage error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error);
std::string UsageText();

}  // namespace kbr::devsim
