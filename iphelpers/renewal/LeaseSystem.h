#pragma once
// Releasing and renewing this PC's DHCP leases for real (Linux): gathers the facts LeasePlan.h
// plans from, runs the plan within a time budget, and keeps the record of what a release gave
// up. Shared by `ipconfig` and `nwinf`, so that both renew the same way.
//
// Only clients in this process's own network namespace count: a dhclient or systemd-networkd
// running in another namespace is never touched, and interfaces are those this namespace has.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "iphelpers/renewal/LeasePlan.h"

namespace kbr::renewal {

// One time budget shared by every step of a run: each step gets what is left, at most its own cap.
class Budget {
public:
    explicit Budget(std::chrono::milliseconds total);
    std::chrono::milliseconds Remaining() const;
    bool Expired() const { return Remaining().count() <= 0; }
    // What a step that may take up to `cap` gets now.
    std::chrono::milliseconds Slice(std::chrono::milliseconds cap) const;

private:
    std::chrono::steady_clock::time_point deadline_;
};

struct CommandResult {
    bool started = false;
    bool finished = false;  // false: still running when the time ran out
    int exitCode = -1;      // when finished; -1 for a signal
    std::string output;     // standard output, bounded
    std::string errors;     // standard error, bounded
    bool Succeeded() const { return finished && exitCode == 0; }
};

// Runs `command` with no input and waits at most `limit`. A command still running then is ended,
// unless `leaveRunning` (it then runs on; its output is not kept). The program is only ever taken
// from the system's folders (FindSystemProgram), never from the search path, and it gets exactly
// PATH=/usr/sbin:/usr/bin:/sbin:/bin and LC_ALL=C, so its messages are the untranslated ones.
// Every wait ends at the limit, even when a program it started still holds its output.
CommandResult RunCommand(const std::vector<std::string>& command, std::chrono::milliseconds limit,
                         bool leaveRunning = false);

// `name` in /usr/sbin, /usr/bin, /sbin or /bin (the first that has it): a regular executable
// file owned by root and writable by nobody else. FindProgramIn looks in `folders` instead.
std::optional<std::string> FindSystemProgram(std::string_view name);
std::optional<std::string> FindProgramIn(std::string_view name, const std::vector<std::string>& folders);
// The whole environment of every program the renewal runs.
const std::vector<std::string>& HelperEnvironment();

// The facts of this PC now (see SystemFacts). Asks nmcli only where it is installed.
SystemFacts CollectFacts(const Budget& budget);

// Wired interfaces of this network namespace: Ethernet type, not wireless, not loopback.
std::vector<std::string> WiredInterfaces();

struct Done {
    std::string interface;
    Client client = Client::NetworkManager;
};

struct Outcome {
    std::vector<Done> done;         // every step that worked
    std::vector<Problem> failures;  // with their reasons
    bool Failed() const { return !failures.empty(); }
};

// The record of what a release gave up lives in the private folder of platform/PrivateFolder.h
// (root: /run/kbr3300; others: $XDG_RUNTIME_DIR/kbr3300), one file per network namespace.

// Gives up the leases (all wired adapters, or `adapter`) and records what was given up: the
// record is written before anything is released, and without it nothing is.
Outcome Release(std::string_view adapter, const Budget& budget);
// Brings back what a release gave up, then renews every lease still held.
Outcome Renew(std::string_view adapter, const Budget& budget);

// Waits (at most `limit`) until every "ipconfig /release" that this user started in this
// network namespace, from this very program, no later than this process, has ended. The wizard
// starts /release and at once /renew; a process exists once its start has returned, so this makes
// the release come first. False when one was still running at the limit.
bool WaitForEarlierReleases(std::chrono::milliseconds limit);

}  // namespace kbr::renewal
