#pragma once
// The arguments of the small Linux `ipconfig`: the part of the Windows tool's command line that
// the setup wizard relies on. The work itself is iphelpers/renewal's.

#include <optional>
#include <string>
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

}  // namespace kbr::ipconfig
