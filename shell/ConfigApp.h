#pragma once
// Start-up of the configuration program: sockets, the check that the setup wizard started it, the
// end of every wizard process, the IP helper started in the background, then the main window,
// modally; the program ends with it.

#include "platform/Platform.h"
#include "platform/ProgramNames.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kbr {

// What start-up needs of the system; tests put fakes in its place.
struct StartupSystem {
    std::function<bool()> initSockets;
    std::function<std::vector<platform::ProcessInfo>(std::string_view name)> findProcesses;
    std::function<bool(int64_t pid)> terminateAndWait;
    // Starts a program hidden and detached, without waiting.
    std::function<void(const std::string& program, const std::vector<std::string>& args)> startHidden;

    static StartupSystem Real();
};

class ConfigApp {
public:
    static constexpr const char* kWizardName = platform::WIZARD_EXECUTABLE;
    static constexpr const char* kIpHelperName = platform::IP_HELPER_EXECUTABLE;

    explicit ConfigApp(StartupSystem system = StartupSystem::Real());

    // The start-up steps; runMainDialog runs the main window modally. Returns the exit code: 0
    // after the main window's run, 1 when a check ended the program.
    int Run(const std::function<int()>& runMainDialog);

    [[nodiscard]] bool InitSockets();
    // A process named as the wizard (any letter case) runs; otherwise tells the user.
    [[nodiscard]] bool LaunchGuard();
    // Ends every wizard process and waits for each; one that cannot be ended is passed over.
    void CloseWizard();
    // The IP helper with "1", hidden, not waited for; looked for in the current directory, then
    // beside the program, then on the search path.
    void StartIpHelper();

private:
    StartupSystem system_;
};

}  // namespace kbr
