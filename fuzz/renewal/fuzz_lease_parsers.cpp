// Fuzzes the texts the DHCP renewal reads from the system and from its own record. The first
// byte chooses the reader; the rest is its input. Whatever comes in, the plans made from it
// only ever run nmcli, dhclient or networkctl, and a record written back reads the same.
#include "iphelpers/renewal/LeasePlan.h"
#include "platform/ProcessFacts.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace kbr::renewal;

void CheckPlan(const Plan& plan) {
    for (const Step& step : plan.steps) {
        if (step.command.empty()) std::abort();
        const std::string& program = step.command.front();
        if (program != "nmcli" && program != "dhclient" && program != "networkctl") std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    SystemFacts facts;
    facts.isRoot = true;
    switch (data[0] % 4) {
        case 0: {  // nmcli -t -f DEVICE,TYPE,STATE,CON-UUID device status
            facts.networkManagerRunning = true;
            facts.nmDevices = ParseNmcliDevices(text);
            for (const NmDevice& device : facts.nmDevices) {
                if (device.name.empty()) std::abort();
                facts.wiredInterfaces.push_back(device.name);
                facts.nmDhcpLeases.insert(device.name);
            }
            break;
        }
        case 1: {  // /proc/PID/cmdline of a dhclient
            const auto process = ParseDhclientCommandLine(kbr::platform::SplitCommandLine(text));
            if (process) {
                if (process->keptArguments.size() % 2 != 0) std::abort();
                facts.dhclients.push_back(*process);
                facts.wiredInterfaces = process->interfaces;
            }
            break;
        }
        case 2: {  // the release record
            const auto entries = ParseReleased(text);
            if (ParseReleased(FormatReleased(entries)) != entries) std::abort();
            for (const Released& entry : entries) facts.wiredInterfaces.push_back(entry.interface);
            CheckPlan(PlanRenew(facts, entries));
            return 0;
        }
        default: {  // a client's error output
            const std::string reason = ReasonFromErrorOutput(text);
            if (reason.size() > 200 + std::string_view("no rights: ").size()) std::abort();
            for (char c : reason) {
                if (static_cast<unsigned char>(c) < 0x20) std::abort();
            }
            return 0;
        }
    }
    CheckPlan(PlanRelease(facts));
    CheckPlan(PlanRenew(facts, {}));
    return 0;
}
