#include "tools/ipconfig/IpconfigPlan.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace kbr::ipconfig {

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
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

bool Wanted(const std::string& name, const Request& request) {
    return request.adapter.empty() || name == request.adapter;
}

}  // namespace

std::optional<Request> ParseArguments(const std::vector<std::string>& args) {
    Request request;
    if (args.empty()) {
        return request;
    }
    const std::string& option = args[0];
    if (option.size() < 2 || (option[0] != '/' && option[0] != '-')) {
        return std::nullopt;
    }
    const std::string name = Lower(std::string_view(option).substr(option[1] == '-' ? 2 : 1));
    if (name == "release") {
        request.action = Action::Release;
    } else if (name == "renew") {
        request.action = Action::Renew;
    } else if (name == "all" && args.size() == 1) {
        return request;
    } else if ((name == "?" || name == "help") && args.size() == 1) {
        request.action = Action::Help;
        return request;
    } else {
        return std::nullopt;
    }
    if (args.size() > 2) {
        return std::nullopt;
    }
    if (args.size() == 2) {
        // An interface name, never something that could pass for an option of the tools we run.
        const std::string& adapter = args[1];
        if (adapter.empty() || adapter[0] == '-' || adapter.size() > 15 ||
            adapter.find_first_of("/: \t\n") != std::string::npos) {
            return std::nullopt;
        }
        request.adapter = adapter;
    }
    return request;
}

std::vector<NmDevice> ParseNmcliDevices(std::string_view text) {
    std::vector<NmDevice> devices;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        auto fields = SplitTerse(line);
        if (fields.size() != 3 || fields[0].empty()) {
            continue;
        }
        devices.push_back({fields[0], fields[1], fields[2]});
    }
    return devices;
}

std::vector<std::string> ListWiredInterfaces(const std::filesystem::path& classNet) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(classNet, error)) {
        const fs::path dir = entry.path();
        std::ifstream typeFile(dir / "type");
        int type = -1;
        // ARPHRD_ETHER; a physical interface has a backing device; wireless ones say so.
        if (!(typeFile >> type) || type != 1 || !fs::exists(dir / "device", error) ||
            fs::exists(dir / "wireless", error) || fs::exists(dir / "phy80211", error)) {
            continue;
        }
        names.push_back(dir.filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Plan MakePlan(const Request& request, const SystemFacts& facts) {
    Plan plan;
    if (request.action != Action::Release && request.action != Action::Renew) {
        return plan;
    }
    const bool release = request.action == Action::Release;

    std::vector<std::string> managed;  // wired devices NetworkManager looks after
    if (facts.networkManagerRunning) {
        for (const NmDevice& device : facts.nmDevices) {
            if (device.type != "ethernet" || device.state == "unmanaged" || !Wanted(device.name, request)) {
                continue;
            }
            managed.push_back(device.name);
            if (release) {
                if (StartsWith(device.state, "connect")) {
                    plan.commands.push_back({"nmcli", "device", "disconnect", device.name});
                }
            } else if (device.state == "unavailable") {
                plan.problems.push_back(device.name + ": no cable connected");
            } else {
                plan.commands.push_back({"nmcli", "device", "connect", device.name});
            }
        }
    }

    std::vector<std::string> others;
    for (const std::string& name : facts.wiredInterfaces) {
        if (Wanted(name, request) && std::find(managed.begin(), managed.end(), name) == managed.end()) {
            others.push_back(name);
        }
    }
    if (!others.empty()) {
        if (!facts.haveDhclient) {
            if (managed.empty()) {
                plan.problems.push_back("neither NetworkManager nor dhclient is available to " +
                                        std::string(release ? "release" : "renew") + " the address");
            }
        } else if (!facts.isRoot) {
            plan.problems.push_back("dhclient needs administrator rights: run 'sudo ipconfig " +
                                    std::string(release ? "/release" : "/renew") + "'");
        } else {
            std::vector<std::string> command = {"dhclient"};
            if (release) {
                command.push_back("-r");
            }
            command.insert(command.end(), others.begin(), others.end());
            plan.commands.push_back(std::move(command));
        }
    }

    if (!request.adapter.empty() && managed.empty() && others.empty()) {
        plan.problems.push_back(request.adapter + ": no such wired adapter");
    } else if (managed.empty() && others.empty()) {
        plan.problems.push_back("no wired network adapter found");
    }
    return plan;
}

}  // namespace kbr::ipconfig
