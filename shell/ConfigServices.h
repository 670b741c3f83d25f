#pragma once
// Everything the configuration program does outside its own windows, in one interface: what its
// page windows' browser hosts need (HostServices: boxes, the prompt box, the file chooser, remote
// links, the page library), the Reminder, and what start-up needs of the system (sockets, the
// process list, ending processes, starting the IP helper). The program makes one ConfigSystemServices
// and hands it to everything it creates; tests hand in their own.

#include "browser/HostServices.h"
#include "platform/Platform.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kbr {

class ConfigServices : public HostServices {
public:
    // The Reminder shown whenever a page window closes: modal, no owner; returns when the user
    // has left it.
    virtual void ShowReminder() = 0;

    // Makes the system's sockets usable (Windows Sockets 1.1 exactly on Windows); false when that
    // failed.
    [[nodiscard]] virtual bool InitSockets() = 0;
    // The processes whose executable is named `name`, in any letter case.
    virtual std::vector<platform::ProcessInfo> FindProcesses(std::string_view name) = 0;
    // Ends a process and waits until it has gone; false when it could not be ended.
    virtual bool TerminateAndWait(int64_t pid) = 0;
    // Starts a program hidden and detached, without waiting and without looking at the result:
    // from the current directory, else from beside this program, else from the search path.
    virtual void StartHidden(const std::string& program, const std::vector<std::string>& args) = 0;
};

}  // namespace kbr
