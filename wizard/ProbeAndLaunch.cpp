#include "wizard/ProbeAndLaunch.h"

#include "wizard/WizardConstants.h"

namespace kbr::wizard {

ProbeAndLaunch::ProbeAndLaunch(WizardServices& services) : services_(services) {}

ProbeAndLaunch::~ProbeAndLaunch() { CloseNotice(); }

void ProbeAndLaunch::CloseNotice() {
    if (notice_) {
        notice_->hide();
        notice_.reset();
    }
}

ProbeOutcome ProbeAndLaunch::Run(ProbeMode mode, QWidget* failureDialog) {
    // A fresh notice per run; nothing is processed while the probe blocks, so paint it first.
    CloseNotice();
    notice_ = std::make_unique<ProbeNoticeDialog>();
    notice_->ShowAndPaint();

    std::unique_ptr<ProbeLink> link = services_.NewLink();
    bool renewed = false;
    ProbeOutcome outcome = ProbeOutcome::Reported;
    for (;;) {
        if (link->Open()) {
            // The probe connection stays open through the wait after the launch.
            outcome = Launch(mode);
            break;
        }
        if (!renewed) {
            renewed = true;
            // Started back to back and not waited for: the helper's results are not ours to judge,
            // and a second attempt is made either way.
            services_.StartRenewal(std::string(RENEWAL_RELEASE));
            services_.StartRenewal(std::string(RENEWAL_RENEW));
            services_.Wait(RENEWAL_WAIT);
            continue;
        }
        if (mode == ProbeMode::Start) {
            link->Close();
            return ProbeOutcome::DeviceUnreachable;
        }
        CloseNotice();
        ProbeNoticeDialog::PaintNow(failureDialog);
        services_.ShowMessage(failureDialog, TEXT_CANNOT_CONNECT, PROGRAM_CAPTION, MBOX_OK | MBOX_ICONEXCLAMATION);
        outcome = ProbeOutcome::Reported;
        break;
    }
    // Clean-up on every way out: the notice first, then the connection.
    CloseNotice();
    link->Close();
    return outcome;
}

ProbeOutcome ProbeAndLaunch::Launch(ProbeMode mode) {
    const bool retry = mode == ProbeMode::Retry;
    if (services_.LaunchConfigProgram()) {
        // The configuration program looks for a running wizard when it starts: stay for it.
        services_.Wait(retry ? RETRY_LAUNCH_WAIT : START_LAUNCH_WAIT);
        return retry ? ProbeOutcome::Reported : ProbeOutcome::Launched;
    }
    CloseNotice();
    services_.ShowMessage(nullptr, TEXT_CANNOT_EXECUTE, CAPTION_ERROR, MBOX_OK);
    if (!retry) {
        return ProbeOutcome::LaunchFailed;
    }
    services_.Wait(RETRY_LAUNCH_WAIT);
    return ProbeOutcome::Reported;
}

}  // namespace kbr::wizard
