// nwinf: the IP helper the configuration program starts.
//   nwinf 1   at start-up, while the PC is cabled to the adaptor in its configuration mode:
//             renews nothing, records in nicinfo.tmp which interface faces the adaptor (the one
//             holding its 192.168.0.x address) and reports that interface's address.
//   nwinf 2   for "Refresh IP address": renews the DHCP lease of that interface (else of every
//             wired interface that holds one) the way `ipconfig /renew` does (on Windows, with
//             the system's own ipconfig /renew), and reports its new address.
// It writes "ipinfo.tmp" (first line: the address, "0.0.0.0" when there is none; second line:
// the renewal's outcome) and "nicinfo.tmp" (the interfaces) into the current directory, and ends
// well within the limit the Reminder gives each run. A renewal that fails is said in nicinfo.tmp
// with its reason and logged.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/Network.h"
#include "platform/ProblemLog.h"
#include "platform/SafeFile.h"
#include "iphelpers/nwinf/NetInfo.h"
#include "iphelpers/nwinf/Renewal.h"

namespace {

using namespace kbr::nwinf;
using namespace std::chrono_literals;
namespace platform = kbr::platform;

constexpr auto ADDRESS_WAIT_LIMIT = 20s;
constexpr auto ADDRESS_POLL = 250ms;
constexpr size_t NICINFO_READ_MAX = 64 * 1024;
// The adaptor's own address in its configuration mode.
constexpr const char* ADAPTOR_ADDRESS = "192.168.0.20";
// Where the files go: the current folder.
const std::string HERE = ".";

// The interface named in nicinfo.tmp by an earlier run, if it is still there.
std::string RecordedInterface(const std::string& here, const std::vector<InterfaceFacts>& interfaces) {
    const auto nicinfo = platform::ReadRegularFile(here + "/" + NICINFO_FILE, NICINFO_READ_MAX);
    if (!nicinfo) return {};
    const std::string name = RecordedAdaptorInterface(*nicinfo);
    const bool present = std::any_of(interfaces.begin(), interfaces.end(),
                                     [&](const InterfaceFacts& facts) { return facts.name == name; });
    return present ? name : std::string();
}

// After a renewal the new lease can take a moment to show; wait (bounded) for a routable address.
std::string SettledAddress(const std::string& interface, bool wait, Clock::time_point deadline) {
    const auto until = Clock::now() + (wait ? Left(deadline, ADDRESS_WAIT_LIMIT) : 0ms);
    for (;;) {
        const auto interfaces = platform::ListNetworkInterfaces();
        std::string address = interface.empty() ? PrimaryIPv4(interfaces, platform::DefaultRouteInterface())
                                                : AddressOf(interfaces, interface);
        const bool settled = address != NO_ADDRESS && address.rfind("169.254.", 0) != 0;
        if (settled || Clock::now() >= until) return address;
        std::this_thread::sleep_for(ADDRESS_POLL);
    }
}

// The current folder's name, for messages ("." when the system cannot name it). The files
// themselves are named relative to it (HERE), so a folder whose name the program's single-byte
// text cannot spell still works.
std::string CurrentFolder() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? std::string(".") : folder.string();
}

}  // namespace

int main(int argc, char* argv[]) {
    const auto deadline = Clock::now() + RUN_BUDGET;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    auto options = ParseArguments(arguments);
    if (!options) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    const char* noRenew = std::getenv(NO_RENEW_VARIABLE);
    if (noRenew != nullptr && std::string(noRenew) == "1") options->renew = false;

    const auto interfaces = platform::ListNetworkInterfaces();
    // The interface that faces the adaptor: found at start-up, remembered for the refresh.
    const std::string adaptor = options->mode == 1
                                    ? AdaptorInterface(interfaces, platform::RouteInterfaceTowards(ADAPTOR_ADDRESS))
                                    : RecordedInterface(HERE, interfaces);

    RenewalStatus renewal;
    std::vector<std::string> renewed;
    if (options->mode == 2 && !options->renew) {
        renewal.state = RenewalStatus::State::Skipped;
        Say("renewal skipped (--no-renew or NWINF_NO_RENEW=1)");
    } else if (options->mode == 2 && !options->renewCommand.empty()) {
        const std::string target =
            adaptor.empty() ? PrimaryInterface(interfaces, platform::DefaultRouteInterface()) : adaptor;
        std::string reason = "no network interface to renew";
        if (!target.empty() &&
            RunRenewalProgram(options->renewCommand, {target}, Left(deadline, RENEW_COMMAND_LIMIT), reason)) {
            renewal.state = RenewalStatus::State::Renewed;
            renewed.push_back(target);
        } else {
            renewal = {RenewalStatus::State::Failed, reason};
        }
    } else if (options->mode == 2) {
        renewed = RenewWithSystem(adaptor, deadline, renewal);
    }
    if (renewal.state == RenewalStatus::State::Failed) {
        Say("renewal failed: " + renewal.reason);
        platform::LogProblem("nwinf", "renewal failed: " + renewal.reason);
    }

    // Report the adaptor's interface; else the one interface renewed; else the primary address.
    std::string reported = adaptor;
    if (reported.empty() && renewed.size() == 1) reported = renewed.front();
    const std::string address = SettledAddress(reported, !renewed.empty(), deadline);

    const auto now = platform::ListNetworkInterfaces();
    // ipinfo.tmp last: whoever waits for it finds nicinfo.tmp already there.
    std::string error;
    if (!platform::ReplaceFile(HERE, NICINFO_FILE,
                               FormatNicInfo(now, platform::DefaultRouteInterface(), adaptor, renewal), 0644, &error) ||
        !platform::ReplaceFile(HERE, IPINFO_FILE, FormatIpInfo(address, renewal), 0644, &error)) {
        Say("could not write the information files in " + CurrentFolder() + ": " + error);
        return 1;
    }
    return 0;
}
