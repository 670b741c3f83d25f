#pragma once
// The wizard's one piece of real work: show a notice, check that the device accepts a TCP
// connection, renew the PC's address once if it does not, and start the configuration program
// when it does.

#include "wizard/ProbeNoticeDialog.h"
#include "wizard/WizardServices.h"

#include <memory>

class QWidget;

namespace kbr::wizard {

enum class ProbeMode {
    Start,  // once, when the wizard starts
    Retry,  // "Try again" in the failure dialog: reports everything itself
};

enum class ProbeOutcome {
    Launched,           // start mode: the configuration program was started
    LaunchFailed,       // start mode: it could not be started (the user was told)
    DeviceUnreachable,  // start mode: two attempts failed; the notice is still shown
    Reported,           // retry mode: whatever happened, the user was told
};

class ProbeAndLaunch {
public:
    explicit ProbeAndLaunch(WizardServices& services);
    ~ProbeAndLaunch();
    ProbeAndLaunch(const ProbeAndLaunch&) = delete;
    ProbeAndLaunch& operator=(const ProbeAndLaunch&) = delete;

    // One run. In retry mode `failureDialog` owns the "Can not connect to device!" box.
    // In start mode a DeviceUnreachable run leaves its notice up, so that the failure dialog can
    // replace it without a gap; CloseNotice() then takes it down.
    ProbeOutcome Run(ProbeMode mode, QWidget* failureDialog = nullptr);

    void CloseNotice();
    // The run's notice while it is up, else null.
    ProbeNoticeDialog* Notice() const { return notice_.get(); }

private:
    ProbeOutcome Launch(ProbeMode mode);

    WizardServices& services_;
    std::unique_ptr<ProbeNoticeDialog> notice_;
};

}  // namespace kbr::wizard
