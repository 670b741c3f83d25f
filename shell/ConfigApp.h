#pragma once
// Start-up of the configuration program: sockets, the check that the setup wizard started it, the
// end of every wizard process, the IP helper started in the background, then the main window,
// modally; the program ends with it.

#include "platform/ProgramNames.h"

#include <functional>

namespace kbr {

class ConfigServices;

class ConfigApp {
public:
    static constexpr const char* WIZARD_NAME = platform::WIZARD_EXECUTABLE;
    static constexpr const char* IP_HELPER_NAME = platform::IP_HELPER_EXECUTABLE;

    // Everything outside the program goes through `services`, which must outlive the object.
    explicit ConfigApp(ConfigServices& services);

    // The start-up steps; runMainDialog runs the main window modally. Returns the exit code: 0
    // after the main window's run, 1 when a check ended the program.
    int Run(const std::function<int()>& runMainDialog);

    [[nodiscard]] bool InitSockets();
    // A process named as the wizard (any letter case) runs; otherwise tells the user.
    [[nodiscard]] bool LaunchGuard();
    // Ends every wizard process and waits for each; one that cannot be ended is passed over.
    void CloseWizard();
    // The IP helper with "1", hidden, not waited for.
    void StartIpHelper();

private:
    ConfigServices& services_;
};

// The whole program: the browser engine prepared, the application object, ConfigApp with the
// main window on `services`. Returns the exit code.
int RunConfigProgram(int argc, char** argv, ConfigServices& services);

}  // namespace kbr
