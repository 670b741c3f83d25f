#include "wizard/CSimpleWizardApp.h"

#include "wizard/ProbeAndLaunch.h"
#include "wizard/ProbeFailedDialog.h"
#include "wizard/WizardConstants.h"
#include "wizard/WizardTrace.h"

namespace kbr::wizard {

CSimpleWizardApp::CSimpleWizardApp(WizardServices& services) : services_(services) {
    Trace("CSimpleWizardApp::CSimpleWizardApp()");
}

int CSimpleWizardApp::Run() {
    services_.StartNetworking();
    if (services_.OtherInstanceRunning()) {
        services_.ShowMessage(nullptr, TEXT_PROGRAM_RUNNING, CAPTION_REMINDER, MBOX_OK);
        return 0;
    }

    ProbeAndLaunch probe(services_);
    if (probe.Run(ProbeMode::Start) != ProbeOutcome::DeviceUnreachable) {
        return 0;
    }

    // The dialog replaces the notice; its retries reuse the same sequence in retry mode.
    ProbeFailedDialog dialog;
    probe.CloseNotice();
    QObject::connect(&dialog, &ProbeFailedDialog::RetryRequested, &dialog,
                     [&probe, &dialog] { probe.Run(ProbeMode::Retry, &dialog); });
    QObject::connect(&dialog, &ProbeFailedDialog::HelpRequested, &dialog, [this] { services_.OpenHelp(); });
    services_.RunFailureDialog(dialog);
    return 0;
}

int WizardServices::RunFailureDialog(ProbeFailedDialog& dialog) { return dialog.exec(); }

}  // namespace kbr::wizard
