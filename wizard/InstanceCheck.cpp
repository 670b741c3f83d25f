#include "wizard/InstanceCheck.h"

#include "wizard/WizardConstants.h"

#include <algorithm>
#include <cctype>

namespace kbr::wizard {

namespace {
bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}
}  // namespace

bool OtherInstanceRunning(const std::vector<platform::ProcessInfo>& processes) {
    if (processes.empty()) {
        return false;
    }
    const auto matches = std::count_if(processes.begin(), processes.end(), [](const platform::ProcessInfo& p) {
        return SameNameIgnoringCase(p.executableName, WIZARD_PROCESS_NAME) ||
               SameNameIgnoringCase(p.executableName, CONFIG_PROCESS_NAME);
    });
    return matches != 1;
}

}  // namespace kbr::wizard
