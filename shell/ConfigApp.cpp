#include "shell/ConfigApp.h"

#include "browser/ResScheme.h"
#include "browser/StartupTrace.h"
#include "shell/ConfigServices.h"
#include "shell/MainDialog.h"
#include "widgets/ProductIcon.h"

#include <QApplication>

namespace kbr {

ConfigApp::ConfigApp(ConfigServices& services) : services_(services) {}

bool ConfigApp::InitSockets() {
    if (services_.InitSockets()) return true;
    (void)services_.ShowBox({nullptr, QStringLiteral("Windows sockets initialization failed."),
                             QString::fromLatin1(PROGRAM_CAPTION), MBOX_OK});
    return false;
}

bool ConfigApp::LaunchGuard() {
    if (!services_.FindProcesses(WIZARD_NAME).empty()) return true;
    (void)services_.ShowBox({nullptr, QStringLiteral("The program must execute from KBR3300_Wizardd.exe"),
                             QStringLiteral("Invalid Execution"), MBOX_OK});
    return false;
}

void ConfigApp::CloseWizard() {
    for (const platform::ProcessInfo& process : services_.FindProcesses(WIZARD_NAME)) {
        (void)services_.TerminateAndWait(process.pid);  // one that cannot be ended is passed over
    }
}

void ConfigApp::StartIpHelper() { services_.StartHidden(IP_HELPER_NAME, {"1"}); }

int ConfigApp::Run(const std::function<int()>& runMainDialog) {
    if (!InitSockets()) return 1;
    StartupTrace("sockets started");
    if (!LaunchGuard()) return 1;
    StartupTrace("launch guard passed");
    CloseWizard();
    StartupTrace("wizard closed");
    StartIpHelper();
    StartupTrace("IP helper started");
    (void)runMainDialog();
    return 0;
}

int RunConfigProgram(int argc, char** argv, ConfigServices& services) {
    PrepareBrowserEngine();  // before the application object
    StartupTrace("browser engine prepared");
    QApplication app(argc, argv);
    StartupTrace("application object made");
    ApplyDesktopIdentity();
    StartupTrace("desktop identity applied");
    ConfigApp config(services);
    return config.Run([&services] {
        MainDialog dialog(services);
        StartupTrace("main window made");
        return dialog.exec();
    });
}

}  // namespace kbr
