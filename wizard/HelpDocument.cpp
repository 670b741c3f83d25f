#include "wizard/HelpDocument.h"

namespace kbr::wizard {

std::optional<std::string> HelpDocumentFor(HelpHost host, int windowsMajorVersion) {
    if (host == HelpHost::Linux) {
        return "doc/linux.htm";
    }
    switch (windowsMajorVersion) {
        case 5: return ".\\doc\\xp.htm";
        case 6: return ".\\doc\\vista.htm";
        default: return std::nullopt;
    }
}

}  // namespace kbr::wizard
