#include "wizard/WizardSystemServices.h"

#include "platform/Platform.h"
#include "wizard/HelpDocument.h"
#include "wizard/InstanceCheck.h"
#include "wizard/WizardConstants.h"
#include "wizard/WizardLink.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

#include "platform/Socket.h"

namespace kbr::wizard {

void WizardSystemServices::StartNetworking() {
    const platform::SocketsStart sockets = platform::StartSockets(2, 0);
    if (!sockets.started) {
        if (sockets.major != 2 || sockets.minor != 0) {
            ShowMessage(nullptr, "Incorrect version of WS2_32.dll found", CAPTION_ERROR, MBOX_OK);
        }
        platform::StopSockets();
    }
}

std::unique_ptr<ProbeLink> WizardSystemServices::NewLink() {
    return std::make_unique<WizardLink>(std::string(DEVICE_ADDRESS), std::string(DEVICE_PORT));
}

void WizardSystemServices::StartRenewal(const std::string& parameter) {
    platform::StartOptions options;
    options.hidden = true;
    options.searchPath = true;
    (void)platform::StartProcess(std::string(RENEWAL_PROGRAM), {parameter}, options);
}

bool WizardSystemServices::LaunchConfigProgram() {
    platform::StartOptions options;
    options.hidden = false;
    options.searchPath = false;  // from the current directory only
    return platform::StartProcess(std::string(CONFIG_PROGRAM_PATH), {}, options).started;
}

void WizardSystemServices::Wait(std::chrono::milliseconds duration) {
    // Windows are repainted while we wait, but clicks and keys are held back until the wait is
    // over, just as when the thread sleeps.
    // A precise deadline: the configuration program counts on the wizard being there for the whole
    // time, and a coarse timer may end a 3 s wait 150 ms early.
    const QDeadlineTimer deadline(duration, Qt::PreciseTimer);
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(std::max<qint64>(deadline.remainingTime(), 1), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
}

void WizardSystemServices::ShowMessage(QWidget* owner, const QString& text, const QString& caption, uint32_t type) {
    (void)RunMessageBox({owner, text, caption, MBOX_OK | (type & 0xF0)});
}

bool WizardSystemServices::OtherInstanceRunning() { return wizard::OtherInstanceRunning(platform::ListProcesses()); }

void WizardSystemServices::OpenHelp() {
    const platform::SystemVersion system = platform::RunningSystemVersion();
    const auto document = HelpDocumentFor(system.windows ? HelpHost::Windows : HelpHost::Linux, system.major);
    if (!document) {
        return;
    }
    // A missing document or browser is not reported: there is nothing more the wizard could say.
    const QString relative = QDir::fromNativeSeparators(QString::fromStdString(*document));
    (void)platform::OpenDocument(QDir::toNativeSeparators(QDir::current().absoluteFilePath(relative)).toStdString());
}

}  // namespace kbr::wizard
