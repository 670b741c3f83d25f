#include "iphelpers/renewal/LeasePlan.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace kbr::renewal {

namespace {

constexpr size_t REASON_MAX = 200;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// Splits one nmcli terse line at unescaped ':'.
std::vector<std::string> SplitTerse(std::string_view line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            fields.back() += line[++i];
        } else if (c == ':') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
    }
    return lines;
}

bool Wanted(std::string_view name, std::string_view adapter) { return adapter.empty() || name == adapter; }

const NmDevice* FindNmDevice(const SystemFacts& facts, std::string_view name) {
    if (!facts.networkManagerRunning) {
        return nullptr;
    }
    for (const NmDevice& device : facts.nmDevices) {
        if (device.name == name) {
            return &device;
        }
    }
    return nullptr;
}

// NetworkManager looks after the interface: nothing else may run a DHCP client on it.
bool ManagedByNetworkManager(const SystemFacts& facts, std::string_view name) {
    const NmDevice* device = FindNmDevice(facts, name);
    return device != nullptr && device->state != "unmanaged";
}

bool IsWired(const SystemFacts& facts, std::string_view name) {
    return std::find(facts.wiredInterfaces.begin(), facts.wiredInterfaces.end(), name) != facts.wiredInterfaces.end();
}

// dhclient's own arguments plus the interfaces it was told to look after.
std::vector<std::string> DhclientArguments(const DhclientProcess& process) {
    std::vector<std::string> arguments = process.keptArguments;
    arguments.insert(arguments.end(), process.interfaces.begin(), process.interfaces.end());
    return arguments;
}

std::vector<std::string> Command(std::initializer_list<std::string> head, const std::vector<std::string>& tail = {}) {
    std::vector<std::string> command(head);
    command.insert(command.end(), tail.begin(), tail.end());
    return command;
}

// `dhclient -r` with the client's own files releases its lease and ends it (checked afterwards).
Step DhclientRelease(const LeaseHolder& holder) {
    return {Command({"dhclient", "-r"}, DhclientArguments(holder.dhclient)), Client::Dhclient, holder.interface,
            holder.dhclient.pid};
}

// The interfaces a dhclient serves besides those asked for now (`holders`): such a process is never
// restarted whole, or their leases would go with it.
std::vector<std::string> OthersServed(const SystemFacts& facts, const DhclientProcess& process,
                                      const std::vector<LeaseHolder>& holders) {
    const std::vector<std::string>& served = !process.interfaces.empty()    ? process.interfaces
                                             : !facts.allInterfaces.empty() ? facts.allInterfaces
                                                                            : facts.wiredInterfaces;
    std::vector<std::string> others;
    for (const std::string& name : served) {
        const bool asked = std::any_of(holders.begin(), holders.end(), [&](const LeaseHolder& h) {
            return h.client == Client::Dhclient && h.dhclient.pid == process.pid && h.interface == name;
        });
        if (!asked && std::find(others.begin(), others.end(), name) == others.end()) others.push_back(name);
    }
    return others;
}

// One interface's own dhclient files (the convention of Debian's ifupdown).
std::vector<std::string> OwnDhclientFiles(const std::string& interface) {
    return {"-pf", "/run/dhclient." + interface + ".pid", "-lf", "/var/lib/dhcp/dhclient." + interface + ".leases"};
}

// The lease file the shared process kept its leases in (none: dhclient's default one).
std::vector<std::string> LeaseFileOf(const DhclientProcess& process) {
    for (size_t i = 0; i + 1 < process.keptArguments.size(); i += 2) {
        if (process.keptArguments[i] == "-lf") return {"-lf", process.keptArguments[i + 1]};
    }
    return {};
}

// Steps that take one interface away from a dhclient that serves others too: the shared process is
// stopped (without releasing anything), the interface's lease released by a dhclient run of its
// own, and (once every asked interface is done: `restartOthers`) a dhclient started again for the
// others with the process's own files. `startOwn` then also starts the interface's own client.
void AddSharedDhclientSteps(const LeaseHolder& holder, const std::vector<std::string>& others, bool stopShared,
                            bool startOwn, bool restartOthers, Plan& plan, int record) {
    if (stopShared) {
        plan.steps.push_back({{}, Client::Dhclient, holder.interface, holder.dhclient.pid});
    }
    std::vector<std::string> release = {"dhclient", "-r", "-pf", "/run/dhclient." + holder.interface + ".pid"};
    for (const std::string& argument : LeaseFileOf(holder.dhclient)) release.push_back(argument);
    release.push_back(holder.interface);
    plan.steps.push_back({release, Client::Dhclient, holder.interface});
    plan.steps.back().record = record;
    if (startOwn) {
        std::vector<std::string> own = OwnDhclientFiles(holder.interface);
        own.push_back(holder.interface);
        plan.steps.push_back({Command({"dhclient"}, own), Client::Dhclient, holder.interface, 0, true});
    }
    if (restartOthers) {
        std::vector<std::string> again = holder.dhclient.keptArguments;
        again.insert(again.end(), others.begin(), others.end());
        plan.steps.push_back({Command({"dhclient"}, again), Client::Dhclient, others.front(), 0, true});
    }
}

// For each shared dhclient: how many of its asked interfaces are still to be planned.
std::map<int64_t, size_t> AskedPerProcess(const std::vector<LeaseHolder>& holders) {
    std::map<int64_t, size_t> asked;
    for (const LeaseHolder& holder : holders) {
        if (holder.client == Client::Dhclient) ++asked[holder.dhclient.pid];
    }
    return asked;
}

std::string NeedsRootReason(std::string_view interface, bool release) {
    return "no rights: dhclient looks after " + std::string(interface) + " and only root may " +
           (release ? "release" : "renew") + " its lease (run 'sudo ipconfig " + (release ? "/release" : "/renew") +
           "')";
}

// Adapters that dhclient of another user looks after, which we may not touch.
void AddOtherUserProblems(const SystemFacts& facts, std::string_view adapter, bool release, Plan& plan) {
    if (facts.isRoot) {
        return;
    }
    for (const std::string& name : facts.wiredInterfaces) {
        if (Wanted(name, adapter) && facts.dhclientOfOtherUser.count(name) != 0 &&
            !ManagedByNetworkManager(facts, name)) {
            plan.problems.push_back({name, NeedsRootReason(name, release)});
        }
    }
}

void AddNothingHeldProblem(const SystemFacts& facts, std::string_view adapter, Plan& plan) {
    if (!plan.steps.empty() || !plan.problems.empty()) {
        return;
    }
    if (!adapter.empty() && !IsWired(facts, adapter)) {
        plan.problems.push_back({std::string(adapter), "no such wired adapter"});
    } else if (!adapter.empty()) {
        plan.problems.push_back({std::string(adapter), "no way to renew here: no DHCP client holds a lease on it"});
    } else if (facts.wiredInterfaces.empty()) {
        plan.problems.push_back({"", "no way to renew here: no wired network adapter"});
    } else {
        plan.problems.push_back({"", "no way to renew here: no DHCP client holds a lease on a wired adapter"});
    }
}

bool ValidField(std::string_view field) { return field.find_first_of("\t\n\r") == std::string_view::npos; }

}  // namespace

std::string_view ClientName(Client client) {
    switch (client) {
        case Client::NetworkManager: return "NetworkManager";
        case Client::Dhclient: return "dhclient";
        case Client::Networkd: return "systemd-networkd";
    }
    return "?";
}

std::vector<NmDevice> ParseNmcliDevices(std::string_view text) {
    std::vector<NmDevice> devices;
    for (std::string_view line : Lines(text)) {
        auto fields = SplitTerse(line);
        if ((fields.size() != 3 && fields.size() != 4) || fields[0].empty()) {
            continue;
        }
        devices.push_back({fields[0], fields[1], fields[2], fields.size() == 4 ? fields[3] : std::string()});
    }
    return devices;
}

std::optional<DhclientProcess> ParseDhclientCommandLine(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return std::nullopt;
    }
    const std::string& program = argv[0];
    const size_t slash = program.rfind('/');
    if (program.substr(slash == std::string::npos ? 0 : slash + 1) != "dhclient") {
        return std::nullopt;
    }
    // Options that take a value. Only its pid and lease files are given again when the client is
    // released or restarted (so that the right process is found), and only where root keeps them:
    // a script (-sf), a configuration (-cf) or a variable for the script (-e) named by whoever
    // started the process would run as root.
    static const std::set<std::string> KEPT = {"-pf", "-lf"};
    static const std::set<std::string> WITH_VALUE = {"-s",
                                                     "-g",
                                                     "-p",
                                                     "-D",
                                                     "-sf",
                                                     "-pf",
                                                     "-lf",
                                                     "-cf",
                                                     "-e",
                                                     "-df",
                                                     "--decline-wait-time",
                                                     "--dad-wait-time",
                                                     "--prefix-len-hint",
                                                     "--address-prefix-len"};
    static const std::set<std::string> NOT_A_HOLDER = {"-6", "-r", "-x", "-T", "-P", "-S", "-N", "--version"};
    DhclientProcess process;
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& argument = argv[i];
        if (NOT_A_HOLDER.count(argument) != 0) {
            return std::nullopt;
        }
        if (WITH_VALUE.count(argument) != 0) {
            if (i + 1 >= argv.size()) {
                return std::nullopt;
            }
            if (KEPT.count(argument) != 0 && InDhclientFolder(argv[i + 1])) {
                process.keptArguments.push_back(argument);
                process.keptArguments.push_back(argv[i + 1]);
            }
            ++i;
        } else if (!argument.empty() && argument[0] == '-') {
            continue;  // a flag of its own (-4, -v, -nw, -d, -q, -1, -w, ...)
        } else if (!argument.empty()) {
            process.interfaces.push_back(argument);
        }
    }
    return process;
}

bool InDhclientFolder(std::string_view path) {
    for (const std::string_view folder : DHCLIENT_FILE_FOLDERS) {
        if (path.size() <= folder.size() + 1 || path.substr(0, folder.size()) != folder || path[folder.size()] != '/') {
            continue;
        }
        const std::string_view name = path.substr(folder.size() + 1);
        return name.find('/') == std::string_view::npos && name != "." && name != ".." &&
               name.find_first_of(std::string_view("\0\t\n\r", 4)) == std::string_view::npos;
    }
    return false;
}

bool Covers(const DhclientProcess& process, std::string_view interface) {
    return process.interfaces.empty() ||
           std::find(process.interfaces.begin(), process.interfaces.end(), interface) != process.interfaces.end();
}

std::vector<LeaseHolder> FindLeaseHolders(const SystemFacts& facts, std::string_view adapter) {
    std::vector<LeaseHolder> holders;
    for (const std::string& name : facts.wiredInterfaces) {
        if (!Wanted(name, adapter)) {
            continue;
        }
        if (const NmDevice* device = FindNmDevice(facts, name); device != nullptr && device->state != "unmanaged") {
            // Plain "connected" only: "connected (externally)" is configured outside
            // NetworkManager, and a static profile has no DHCP lease data.
            if (device->state == "connected" && facts.nmDhcpLeases.count(name) != 0) {
                holders.push_back({Client::NetworkManager, name, device->connectionUuid, {}});
            }
            continue;
        }
        const auto dhclient = std::find_if(facts.dhclients.begin(), facts.dhclients.end(),
                                           [&](const DhclientProcess& p) { return Covers(p, name); });
        if (dhclient != facts.dhclients.end()) {
            holders.push_back({Client::Dhclient, name, {}, *dhclient});
        } else if (facts.networkdRunning && facts.networkdLeases.count(name) != 0) {
            holders.push_back({Client::Networkd, name, {}, {}});
        }
    }
    return holders;
}

std::string FormatReleased(const std::vector<Released>& entries) {
    std::string text;
    for (const Released& entry : entries) {
        std::vector<std::string> fields = {entry.client == Client::NetworkManager ? "nm"
                                           : entry.client == Client::Dhclient     ? "dhclient"
                                                                                  : "networkd",
                                           entry.interface};
        if (entry.client == Client::NetworkManager) {
            fields.push_back(entry.connectionUuid);
        } else if (entry.client == Client::Dhclient) {
            fields.insert(fields.end(), entry.dhclientArguments.begin(), entry.dhclientArguments.end());
        }
        if (entry.interface.empty() || !std::all_of(fields.begin(), fields.end(), ValidField)) {
            continue;
        }
        for (size_t i = 0; i < fields.size(); ++i) {
            text += (i == 0 ? "" : "\t") + fields[i];
        }
        text += "\n";
    }
    return text;
}

std::vector<Released> ParseReleased(std::string_view text) {
    std::vector<Released> entries;
    for (std::string_view line : Lines(text)) {
        std::vector<std::string> fields(1);
        for (char c : line) {
            if (c == '\t') {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        if (fields.size() < 2 || fields[1].empty() || !std::all_of(fields.begin(), fields.end(), ValidField)) {
            continue;
        }
        Released entry;
        entry.interface = fields[1];
        if (fields[0] == "nm" && fields.size() == 3) {
            entry.client = Client::NetworkManager;
            entry.connectionUuid = fields[2];
        } else if (fields[0] == "dhclient") {
            entry.client = Client::Dhclient;
            // Read as a dhclient command line, so that only what one started now would keep is
            // kept (a record of an older version may name a script), and never something that
            // reads as a different command.
            std::vector<std::string> argv = {"dhclient"};
            argv.insert(argv.end(), fields.begin() + 2, fields.end());
            const auto process = ParseDhclientCommandLine(argv);
            if (!process || std::any_of(argv.begin(), argv.end(), [](const std::string& a) { return a.empty(); })) {
                continue;
            }
            entry.dhclientArguments = DhclientArguments(*process);
        } else if (fields[0] == "networkd" && fields.size() == 2) {
            entry.client = Client::Networkd;
        } else {
            continue;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

Plan PlanRelease(const SystemFacts& facts, std::string_view adapter) {
    Plan plan;
    std::set<int64_t> releasedProcesses;
    const std::vector<LeaseHolder> holders = FindLeaseHolders(facts, adapter);
    std::map<int64_t, size_t> asked = AskedPerProcess(holders);
    for (const LeaseHolder& holder : holders) {
        switch (holder.client) {
            case Client::NetworkManager:
                plan.steps.push_back({Command({"nmcli", "device", "disconnect", holder.interface}),
                                      Client::NetworkManager, holder.interface});
                plan.steps.back().record = static_cast<int>(plan.released.size());
                plan.released.push_back({Client::NetworkManager, holder.interface, holder.connectionUuid, {}});
                break;
            case Client::Dhclient: {
                if (!facts.isRoot) {
                    plan.problems.push_back({holder.interface, NeedsRootReason(holder.interface, true)});
                    break;
                }
                const std::vector<std::string> others = OthersServed(facts, holder.dhclient, holders);
                if (!others.empty()) {
                    // It serves other interfaces too: only this one is taken from it, and what is
                    // recorded is a client of its own for this interface.
                    const bool first = releasedProcesses.insert(holder.dhclient.pid).second;
                    const bool last = --asked[holder.dhclient.pid] == 0;
                    std::vector<std::string> own = OwnDhclientFiles(holder.interface);
                    own.push_back(holder.interface);
                    AddSharedDhclientSteps(holder, others, first, false, last, plan,
                                           static_cast<int>(plan.released.size()));
                    plan.released.push_back({Client::Dhclient, holder.interface, {}, own});
                    break;
                }
                // One process that looks after only asked interfaces: it is released, and later
                // started again, as a whole.
                if (!releasedProcesses.insert(holder.dhclient.pid).second) {
                    break;
                }
                plan.steps.push_back(DhclientRelease(holder));
                plan.steps.back().record = static_cast<int>(plan.released.size());
                plan.released.push_back({Client::Dhclient, holder.interface, {}, DhclientArguments(holder.dhclient)});
                break;
            }
            case Client::Networkd:
                plan.steps.push_back(
                    {Command({"networkctl", "down", holder.interface}), Client::Networkd, holder.interface});
                plan.steps.back().record = static_cast<int>(plan.released.size());
                plan.released.push_back({Client::Networkd, holder.interface, {}, {}});
                break;
        }
    }
    AddOtherUserProblems(facts, adapter, true, plan);
    return plan;
}

Plan PlanRenew(const SystemFacts& facts, const std::vector<Released>& released, std::string_view adapter) {
    Plan plan;
    const std::vector<LeaseHolder> holders = FindLeaseHolders(facts, adapter);
    auto held = [&](std::string_view name) {
        return std::any_of(holders.begin(), holders.end(), [&](const LeaseHolder& h) { return h.interface == name; });
    };

    // What /release gave up comes back first, unless a client has taken it up again meanwhile.
    for (size_t index = 0; index < released.size(); ++index) {
        const Released& entry = released[index];
        if (!Wanted(entry.interface, adapter)) {
            plan.stillReleased.push_back(index);  // another adapter's: not asked for now
            continue;
        }
        if (held(entry.interface) || !IsWired(facts, entry.interface)) {
            continue;
        }
        const size_t stepsBefore = plan.steps.size();
        const size_t problemsBefore = plan.problems.size();
        switch (entry.client) {
            case Client::NetworkManager:
                if (!ManagedByNetworkManager(facts, entry.interface)) {
                    break;
                }
                plan.steps.push_back(
                    {entry.connectionUuid.empty()
                         ? Command({"nmcli", "device", "connect", entry.interface})
                         : Command({"nmcli", "connection", "up", entry.connectionUuid, "ifname", entry.interface}),
                     Client::NetworkManager, entry.interface});
                break;
            case Client::Dhclient:
                if (ManagedByNetworkManager(facts, entry.interface)) {
                    break;  // never beside NetworkManager
                }
                if (!facts.isRoot) {
                    plan.problems.push_back({entry.interface, NeedsRootReason(entry.interface, false)});
                    break;
                }
                plan.steps.push_back(
                    {Command({"dhclient"}, entry.dhclientArguments), Client::Dhclient, entry.interface, 0, true});
                break;
            case Client::Networkd:
                if (!facts.networkdRunning) {
                    break;
                }
                plan.steps.push_back({Command({"networkctl", "up", entry.interface}), Client::Networkd, entry.interface,
                                      0, false, true});
                break;
        }
        if (plan.steps.size() > stepsBefore) {
            plan.steps.back().record = static_cast<int>(index);
        } else if (plan.problems.size() > problemsBefore) {
            plan.stillReleased.push_back(index);  // it cannot come back now: the problem says why
        }
    }

    // Then every lease that is still held is asked for anew.
    std::set<int64_t> restarted;
    std::map<int64_t, size_t> asked = AskedPerProcess(holders);
    for (const LeaseHolder& holder : holders) {
        switch (holder.client) {
            case Client::NetworkManager:
                plan.steps.push_back({Command({"nmcli", "device", "connect", holder.interface}), Client::NetworkManager,
                                      holder.interface});
                break;
            case Client::Dhclient: {
                if (!facts.isRoot) {
                    plan.problems.push_back({holder.interface, NeedsRootReason(holder.interface, false)});
                    break;
                }
                const std::vector<std::string> others = OthersServed(facts, holder.dhclient, holders);
                if (!others.empty()) {
                    const bool first = restarted.insert(holder.dhclient.pid).second;
                    const bool last = --asked[holder.dhclient.pid] == 0;
                    AddSharedDhclientSteps(holder, others, first, true, last, plan, -1);
                    break;
                }
                if (!restarted.insert(holder.dhclient.pid).second) {
                    break;
                }
                plan.steps.push_back(DhclientRelease(holder));
                plan.steps.push_back({Command({"dhclient"}, DhclientArguments(holder.dhclient)), Client::Dhclient,
                                      holder.interface, 0, true});
                break;
            }
            case Client::Networkd:
                plan.steps.push_back({Command({"networkctl", "reconfigure", holder.interface}), Client::Networkd,
                                      holder.interface, 0, false, true});
                break;
        }
    }
    AddOtherUserProblems(facts, adapter, false, plan);
    AddNothingHeldProblem(facts, adapter, plan);
    return plan;
}

bool SaysNotAuthorized(std::string_view errorOutput) {
    const std::string text = Lower(errorOutput);
    for (const char* marker : {"not authorized", "insufficient privileges", "permission denied", "access denied",
                               "interactive authentication required", "operation not permitted"}) {
        if (text.find(marker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string ReasonFromErrorOutput(std::string_view errorOutput) {
    std::string last;
    for (std::string_view line : Lines(errorOutput)) {
        std::string clean;
        for (char c : line) {
            clean += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
        }
        const size_t first = clean.find_first_not_of(' ');
        if (first == std::string::npos) {
            continue;
        }
        last = clean.substr(first, clean.find_last_not_of(' ') - first + 1);
    }
    if (last.size() > REASON_MAX) {
        last.resize(REASON_MAX);
    }
    return SaysNotAuthorized(errorOutput) ? "no rights: " + last : last;
}

}  // namespace kbr::renewal
