#pragma once
// How the IP helper renews: the system's own way (Linux: the renewal that ipconfig shares,
// iphelpers/renewal; Windows: the system's own ipconfig /renew), or a program named on its command
// line. Every step is bounded by the run's one deadline.

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "iphelpers/nwinf/NetInfo.h"

namespace kbr::nwinf {

using Clock = std::chrono::steady_clock;

// The Reminder ends a helper run after 150 s; everything shares this budget, and the files are
// written in the time kept back at its end.
inline constexpr std::chrono::milliseconds RUN_BUDGET = std::chrono::seconds(120);
// What one renewal program may take of it.
inline constexpr std::chrono::milliseconds RENEW_COMMAND_LIMIT = std::chrono::seconds(60);

// The time left until `deadline`, at most `cap`, never negative.
inline std::chrono::milliseconds Left(Clock::time_point deadline, std::chrono::milliseconds cap) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::clamp(left, std::chrono::milliseconds(0), cap);
}

// "nwinf: LINE" on standard error.
void Say(const std::string& line);

// Runs PROGRAM ARGUMENTS with no input (a program named without a folder is looked up on the
// search path) for at most `limit`. False with the reason when it could not run, failed or took
// too long; a failure is explained by the last line of its standard error (with `outputExplains`,
// of its standard output when it wrote nothing to standard error).
bool RunRenewalProgram(const std::string& program, const std::vector<std::string>& arguments,
                       std::chrono::milliseconds limit, std::string& reason, bool outputExplains = false);

// Renews `interface` (empty: every wired interface that holds a lease; Windows: every adapter)
// the system's own way. Returns the interfaces renewed; `status` says how it went.
std::vector<std::string> RenewWithSystem(const std::string& interface, Clock::time_point deadline,
                                         RenewalStatus& status);

}  // namespace kbr::nwinf
