// ipconfig for Linux: the small part of the Windows tool that the setup wizard relies on.
//   ipconfig                      show the IPv4 addresses of this PC's interfaces
//   ipconfig /release [adapter]   give up the DHCP leases of the wired adapters
//   ipconfig /renew [adapter]     bring them back and ask for them anew
// Only adapters whose address came from DHCP are touched (NetworkManager, dhclient or
// systemd-networkd, whichever holds the lease); static and externally managed ones are left as
// they are. What could not be done is said on standard error and logged with its reason.

#include "platform/ProblemLog.h"
#include "iphelpers/ipconfig/IpconfigArguments.h"
#include "iphelpers/renewal/LeaseSystem.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <chrono>
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

int Show() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        std::perror("ipconfig");
        return 1;
    }
    std::puts("IP Configuration\n");
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        char address[INET_ADDRSTRLEN] = "";
        char mask[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, address, sizeof address);
        if (entry->ifa_netmask != nullptr) {
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_netmask)->sin_addr, mask, sizeof mask);
        }
        std::printf("Adapter %s%s:\n   IPv4 Address. . . : %s\n   Subnet Mask . . . : %s\n\n", entry->ifa_name,
                    (entry->ifa_flags & IFF_UP) ? "" : " (down)", address, mask);
    }
    freeifaddrs(list);
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
