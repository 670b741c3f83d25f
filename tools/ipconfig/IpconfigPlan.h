#pragma once
// The decisions of the small Linux `ipconfig`: which arguments it takes, which wired interfaces
// there are, and which commands release or renew their DHCP addresses through NetworkManager
// (nmcli) or dhclient. No side effects here; main.cpp gathers the facts and runs the plan.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbr::ipconfig {

enum class Action { Show, Release, Renew, Help };

struct Request {
    Action action = Action::Show;
    std::string adapter;  // empty: every wired adapter
};

// "/release [adapter]", "/renew [adapter]", "/all" or nothing (show), "/?" (help). Options are
// compared case-insensitively and may start with '/' or '-'. Anything else: nullopt.
std::optional<Request> ParseArguments(const std::vector<std::string>& args);

struct NmDevice {
    std::string name;
    std::string type;   // "ethernet", "wifi", "loopback", ...
    std::string state;  // "connected", "disconnected", "unavailable", "unmanaged", ...
};

// Parses `nmcli -t -f DEVICE,TYPE,STATE device status`: one device a line, fields separated by
// ':' with '\:' and '\\' as escapes. Lines without three fields are skipped.
std::vector<NmDevice> ParseNmcliDevices(std::string_view text);

// Wired, physical network interfaces under a sysfs class/net directory (normally
// /sys/class/net): Ethernet type, backed by a device, not wireless.
std::vector<std::string> ListWiredInterfaces(const std::filesystem::path& classNet);

// What is known about the system when planning.
struct SystemFacts {
    bool networkManagerRunning = false;
    std::vector<NmDevice> nmDevices;          // when NetworkManager runs
    std::vector<std::string> wiredInterfaces;  // from sysfs
    bool haveDhclient = false;
    bool isRoot = false;
};

struct Plan {
    std::vector<std::vector<std::string>> commands;  // argv of each command, in order
    std::vector<std::string> problems;               // what could not be done, for the user
};

// Release: NetworkManager disconnects its connected wired devices; for wired interfaces it does
// not manage, dhclient (root only) releases the lease. Renew: NetworkManager connects its
// disconnected or connected wired devices again (a fresh DHCP exchange); dhclient asks anew for
// the others. With `request.adapter` set, only that interface is touched.
Plan MakePlan(const Request& request, const SystemFacts& facts);

}  // namespace kbr::ipconfig
