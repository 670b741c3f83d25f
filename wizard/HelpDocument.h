#pragma once

#include <optional>
#include <string>

namespace kbr::wizard {

enum class HelpHost { Windows, Linux };

// The DHCP help document for the running system, relative to the current directory. Windows has
// one for major version 5 (XP) and one for 6 (Vista, 7, 8: what the version query reports without
// a compatibility manifest); other Windows versions get none. Linux always has its own.
[[nodiscard]] std::optional<std::string> HelpDocumentFor(HelpHost host, int windowsMajorVersion = 0);

}  // namespace kbr::wizard
