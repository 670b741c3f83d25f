#pragma once
// The wizard's real surroundings: the device link, the platform's process start, the programs'
// message box and Qt's event loop.

#include "wizard/WizardServices.h"

namespace kbr::wizard {

class WizardSystemServices : public WizardServices {
public:
    void StartNetworking() override;
    std::unique_ptr<ProbeLink> NewLink() override;
    void StartRenewal(const std::string& parameter) override;
    [[nodiscard]] bool LaunchConfigProgram() override;
    void Wait(std::chrono::milliseconds duration) override;
    void ShowMessage(QWidget* owner, const QString& text, const QString& caption, uint32_t type) override;
    [[nodiscard]] bool OtherInstanceRunning() override;
    void OpenHelp() override;
};

}  // namespace kbr::wizard
