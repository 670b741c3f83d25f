#include "shell/ConfigApp.h"

#include "browser/MessageBox.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "platform/Socket.h"

namespace kbr {

StartupSystem StartupSystem::Real() {
    StartupSystem s;
    s.initSockets = [] {
        // Version 1.1 exactly: a system that offers only another version counts as a failure.
        const platform::SocketsStart sockets = platform::StartSockets(1, 1);
        if (!sockets.started) return false;
        if (sockets.major != 1 || sockets.minor != 1) {
            platform::StopSockets();
            return false;
        }
        return true;
    };
    s.findProcesses = [](std::string_view name) { return platform::FindProcessesByName(name); };
    s.terminateAndWait = [](int64_t pid) { return platform::TerminateAndWait(pid); };
    s.startHidden = [](const std::string& program, const std::vector<std::string>& args) {
        platform::StartOptions options;
        options.hidden = true;
        options.wait = false;
        std::string path = program;
        if (QFileInfo::exists(QString::fromStdString(program))) {
            path = "./" + program;
        } else if (QCoreApplication::instance() &&
                   QFileInfo::exists(QCoreApplication::applicationDirPath() + "/" + QString::fromStdString(program))) {
            path = (QCoreApplication::applicationDirPath() + "/" + QString::fromStdString(program)).toStdString();
        } else {
            options.searchPath = true;
        }
        (void)platform::StartProcess(path, args, options);  // its result is not looked at
    };
    return s;
}

ConfigApp::ConfigApp(StartupSystem system) : system_(std::move(system)) {}

bool ConfigApp::InitSockets() {
    if (system_.initSockets && system_.initSockets()) return true;
    (void)ShowMessageBox(nullptr, QStringLiteral("Windows sockets initialization failed."),
                         QString::fromLatin1(kProgramCaption), MBOX_OK);
    return false;
}

bool ConfigApp::LaunchGuard() {
    if (!system_.findProcesses(kWizardName).empty()) return true;
    (void)ShowMessageBox(nullptr, QStringLiteral("The program must execute from KBR3300_Wizardd.exe"),
                         QStringLiteral("Invalid Execution"), MBOX_OK);
    return false;
}

void ConfigApp::CloseWizard() {
    for (const platform::ProcessInfo& process : system_.findProcesses(kWizardName)) {
        (void)system_.terminateAndWait(process.pid);  // one that cannot be ended is passed over
    }
}

void ConfigApp::StartIpHelper() { system_.startHidden(kIpHelperName, {"1"}); }

int ConfigApp::Run(const std::function<int()>& runMainDialog) {
    if (!InitSockets()) return 1;
    if (!LaunchGuard()) return 1;
    CloseWizard();
    StartIpHelper();
    (void)runMainDialog();
    return 0;
}

}  // namespace kbr
