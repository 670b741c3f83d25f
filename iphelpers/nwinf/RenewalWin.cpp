// Windows: the system's own ipconfig /renew, for the adaptor's adapter by its connection name
// (or, with none recorded, for every adapter), from the system folder so that no ipconfig.exe
// planted in the current folder is run.

#include <windows.h>

#include "iphelpers/nwinf/Renewal.h"

namespace kbr::nwinf {

namespace {

std::string SystemProgram(const char* name) {
    char folder[MAX_PATH + 1] = "";
    const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length > MAX_PATH) return name;
    return std::string(folder, length) + "\\" + name;
}

}  // namespace

std::vector<std::string> RenewWithSystem(const std::string& interface, Clock::time_point deadline,
                                         RenewalStatus& status) {
    std::vector<std::string> renewed;
    std::vector<std::string> arguments = {"/renew"};
    if (!interface.empty()) arguments.push_back(interface);
    std::string reason;
    // ipconfig says what went wrong on its standard output.
    if (RunRenewalProgram(SystemProgram("ipconfig.exe"), arguments, Left(deadline, RENEW_COMMAND_LIMIT), reason,
                          /*outputExplains=*/true)) {
        status.state = RenewalStatus::State::Renewed;
        if (!interface.empty()) renewed.push_back(interface);
    } else {
        status = {RenewalStatus::State::Failed, reason};
    }
    return renewed;
}

}  // namespace kbr::nwinf
