#include "iphelpers/nwinf/NetInfo.h"

#include <algorithm>
#include <sstream>

namespace kbr::nwinf {

namespace {

bool IsLinkLocal(std::string_view address) { return address.substr(0, 8) == "169.254."; }

bool Counts(const InterfaceFacts& facts) { return facts.up && facts.running && !facts.loopback && !facts.ipv4.empty(); }

bool HasRoutable(const InterfaceFacts& facts) {
    return std::any_of(facts.ipv4.begin(), facts.ipv4.end(), [](const std::string& a) { return !IsLinkLocal(a); });
}

std::string BestAddress(const InterfaceFacts& facts) {
    for (const auto& address : facts.ipv4) {
        if (!IsLinkLocal(address)) return address;
    }
    return facts.ipv4.front();
}

const InterfaceFacts* Primary(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRoute) {
    const InterfaceFacts* best = nullptr;
    for (const auto& facts : interfaces) {
        if (!Counts(facts)) continue;
        if (!defaultRoute.empty() && facts.name == defaultRoute) return &facts;
        if (!best || (!HasRoutable(*best) && HasRoutable(facts))) best = &facts;
    }
    return best;
}

}  // namespace

std::string PrimaryIPv4(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface) {
    const InterfaceFacts* primary = Primary(interfaces, defaultRouteInterface);
    return primary ? BestAddress(*primary) : std::string(NO_ADDRESS);
}

std::string PrimaryInterface(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface) {
    const InterfaceFacts* primary = Primary(interfaces, defaultRouteInterface);
    return primary ? primary->name : std::string();
}

std::string AdaptorInterface(const std::vector<InterfaceFacts>& interfaces, std::string_view routeInterface) {
    std::string first;
    for (const auto& facts : interfaces) {
        if (!Counts(facts)) continue;
        const bool onAdaptorNetwork = std::any_of(facts.ipv4.begin(), facts.ipv4.end(),
                                                  [](const std::string& a) { return a.rfind("192.168.0.", 0) == 0; });
        if (!onAdaptorNetwork) continue;
        // A home network may use 192.168.0.x too: the route to the adaptor decides.
        if (!routeInterface.empty() && facts.name == routeInterface) return facts.name;
        if (first.empty()) first = facts.name;
    }
    return first;
}

std::string AddressOf(const std::vector<InterfaceFacts>& interfaces, std::string_view name) {
    for (const auto& facts : interfaces) {
        if (facts.name == name && Counts(facts)) return BestAddress(facts);
    }
    return NO_ADDRESS;
}

std::string RenewalLine(const RenewalStatus& status) {
    switch (status.state) {
        case RenewalStatus::State::None: return "renewal=none";
        case RenewalStatus::State::Skipped: return "renewal=skipped";
        case RenewalStatus::State::Renewed: return "renewal=ok";
        case RenewalStatus::State::Failed: {
            std::string reason;
            for (char c : status.reason) reason += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
            return "renewal=failed reason=" + reason;
        }
    }
    return "renewal=none";
}

std::string FormatIpInfo(std::string_view address, const RenewalStatus& renewal) {
    // The reason stays in nicinfo.tmp and the log: the address file holds only what the verdict reads.
    const std::string line =
        renewal.state == RenewalStatus::State::Failed ? std::string("renewal=failed") : RenewalLine(renewal);
    return std::string(address) + "\n" + line + "\n";
}

bool IsInterfaceName(std::string_view name, NameRules rules) {
    if (name.empty() || name[0] == '-') return false;
    if (rules == NameRules::Linux) return name.size() <= 15 && name.find_first_of("/: \t") == std::string_view::npos;
    const bool control =
        std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    return !control && name.size() <= 255 && name[0] != '/' && name.find_first_of("*?\"") == std::string_view::npos;
}

std::string RecordedAdaptorInterface(std::string_view nicinfo, NameRules rules) {
    std::istringstream lines{std::string(nicinfo)};
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(ADAPTOR_INTERFACE_KEY, 0) != 0) continue;
        const std::string name = line.substr(std::string_view(ADAPTOR_INTERFACE_KEY).size());
        return IsInterfaceName(name, rules) ? name : std::string();
    }
    return {};
}

std::string FailureReason(const std::string& program, std::string_view errors) {
    constexpr std::string_view BLANKS = " \t\n\v\f\r";
    const size_t first = errors.find_first_not_of(BLANKS);
    if (first == std::string_view::npos) return program + " failed";
    errors = errors.substr(first, errors.find_last_not_of(BLANKS) - first + 1);
    const size_t lineStart = errors.rfind('\n');
    const std::string_view lastLine = lineStart == std::string_view::npos ? errors : errors.substr(lineStart + 1);
    return program + " failed: " + std::string(lastLine.substr(0, 200));
}

std::string FormatNicInfo(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface,
                          std::string_view adaptorInterface, const RenewalStatus& renewal) {
    std::ostringstream out;
    if (!adaptorInterface.empty()) out << ADAPTOR_INTERFACE_KEY << adaptorInterface << "\n";
    out << RenewalLine(renewal) << "\n\n";
    for (const auto& facts : interfaces) {
        out << "[" << facts.name << "]\n";
        out << "hardware=" << facts.hardwareAddress << "\n";
        out << "up=" << (facts.up ? 1 : 0) << " running=" << (facts.running ? 1 : 0)
            << " loopback=" << (facts.loopback ? 1 : 0) << " mtu=" << facts.mtu << "\n";
        out << "default_route=" << (facts.name == defaultRouteInterface ? 1 : 0) << "\n";
        for (const auto& address : facts.addresses) out << "address=" << address << "\n";
        out << "\n";
    }
    return out.str();
}

std::optional<Options> ParseArguments(const std::vector<std::string>& arguments) {
    Options options;
    constexpr std::string_view RENEW_COMMAND = "--renew-command=";
    for (const auto& argument : arguments) {
        if (argument == "1" || argument == "2") {
            if (options.mode != 0) return std::nullopt;
            options.mode = argument[0] - '0';
        } else if (argument == "--no-renew") {
            options.renew = false;
        } else if (argument.rfind(RENEW_COMMAND, 0) == 0 && argument.size() > RENEW_COMMAND.size()) {
            options.renewCommand = argument.substr(RENEW_COMMAND.size());
        } else {
            return std::nullopt;
        }
    }
    if (options.mode == 0) return std::nullopt;
    return options;
}

}  // namespace kbr::nwinf
