#include "iphelpers/ipconfig/IpconfigArguments.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace kbr::ipconfig {

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
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

}  // namespace kbr::ipconfig
