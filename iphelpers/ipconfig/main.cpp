// ipconfig for Linux: the small part of the Windows tool that the setup wizard relies on.
//   ipconfig                      show the IPv4 addresses of this PC's interfaces
//   ipconfig /release [adapter]   give up the DHCP leases of the wired adapters
//   ipconfig /renew [adapter]     bring them back and ask for them anew
// Only adapters whose address came from DHCP are touched (NetworkManager, dhclient or
// systemd-networkd, whichever holds the lease); static and externally managed ones are left as
// they are. What could not be done is said on standard error and logged with its reason.

#include "platform/Network.h"
#include "platform/ProblemLog.h"
#include "iphelpers/ipconfig/IpconfigArguments.h"
#include "iphelpers/renewal/LeaseSystem.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using kbr::ipconfig::Action;
using namespace std::chrono_literals;

// A run that cannot finish in this time has hung somewhere: nothing of ours needs longer.
constexpr auto RUN_BUDGET = 120s;
// The wizard starts /renew right after /release; the release, if it is still running, ends well
// within this.
constexpr auto RELEASE_WAIT_LIMIT = 30s;

void PrintUsage(FILE* to) {
    std::fputs(
        "Usage: ipconfig [/all | /release [adapter] | /renew [adapter] | /?]\n"
        "  (no option)  show the IPv4 address of every interface\n"
        "  /release     release the DHCP leases of the wired adapters\n"
        "  /renew       obtain the DHCP leases of the wired adapters anew\n"
        "Only adapters whose address came from DHCP (NetworkManager, dhclient or systemd-networkd)\n"
        "are touched. dhclient needs root; NetworkManager needs the desktop's permission.\n",
        to);
}

// "255.255.255.0" for a prefix length of 24.
std::string MaskText(int prefixLength) {
    const uint32_t mask = prefixLength <= 0 ? 0 : prefixLength >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefixLength);
    return std::to_string(mask >> 24) + "." + std::to_string((mask >> 16) & 0xFF) + "." +
           std::to_string((mask >> 8) & 0xFF) + "." + std::to_string(mask & 0xFF);
}

int Show() {
    std::puts("IP Configuration\n");
    for (const kbr::platform::NetworkInterface& facts : kbr::platform::ListNetworkInterfaces()) {
        for (const std::string& address : facts.ipv4) {
            // Its prefix length is in the full list ("10.0.0.7/24").
            int prefixLength = 0;
            for (const std::string& withPrefix : facts.addresses) {
                if (withPrefix.rfind(address + "/", 0) == 0)
                    prefixLength = std::atoi(withPrefix.c_str() + address.size() + 1);
            }
            std::printf("Adapter %s%s:\n   IPv4 Address. . . : %s\n   Subnet Mask . . . : %s\n\n", facts.name.c_str(),
                        facts.up ? "" : " (down)", address.c_str(), MaskText(prefixLength).c_str());
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto request = kbr::ipconfig::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!request) {
        PrintUsage(stderr);
        return 2;
    }
    if (request->action == Action::Help) {
        PrintUsage(stdout);
        return 0;
    }
    if (request->action == Action::Show) {
        return Show();
    }

    const kbr::renewal::Budget budget(RUN_BUDGET);
    const bool release = request->action == Action::Release;
    if (!release && !kbr::renewal::WaitForEarlierReleases(RELEASE_WAIT_LIMIT)) {
        std::fputs("ipconfig: an earlier /release is still running; renewing anyway\n", stderr);
    }
    const kbr::renewal::Outcome outcome =
        release ? kbr::renewal::Release(request->adapter, budget) : kbr::renewal::Renew(request->adapter, budget);
    for (const kbr::renewal::Done& done : outcome.done) {
        std::printf("%s %s (%s)\n", release ? "released" : "renewed", done.interface.c_str(),
                    std::string(kbr::renewal::ClientName(done.client)).c_str());
    }
    for (const kbr::renewal::Problem& problem : outcome.failures) {
        const std::string line = std::string(release ? "release" : "renewal") + " failed" +
                                 (problem.interface.empty() ? "" : " on " + problem.interface) + ": " + problem.reason;
        std::fprintf(stderr, "ipconfig: %s\n", line.c_str());
        kbr::platform::LogProblem("ipconfig", line);
    }
    return outcome.Failed() ? 1 : 0;
}
