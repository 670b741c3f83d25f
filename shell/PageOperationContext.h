#pragma once
// The page window as the OperationContext of the device operations it runs: requests go out on
// the window's link, OPERATION_TIMER is the window's, page calls go to its page, boxes are owned
// by it, and the upgrade progress window is its own.

#include "link/OperationContext.h"

namespace kbr {

class CHtmlDialog;

class PageOperationContext final : public OperationContext {
public:
    explicit PageOperationContext(CHtmlDialog& window) : window_(window) {}

    void Send(std::span<const uint8_t> request) override;
    void StartOperationTimer(uint32_t periodMs) override;
    void KillOperationTimer() override;
    void CallPage(std::string_view function, const std::vector<std::string>& args, PageCallForm form) override;
    void CompleteOperation(int result) override;
    void SetActiveOperation(OperationHandler* operation) override;
    OperationHandler* ActiveOperation() const override;
    void ShowMessage(std::string_view text) override;
    bool AskYesNo(std::string_view question) override;
    void CreateUpgradeProgress() override;
    void ShowUpgradeProgress(int maximum) override;
    void AdvanceUpgradeProgress() override;
    void HideUpgradeProgress() override;
    PageDeviceState& State() override;

private:
    CHtmlDialog& window_;
};

}  // namespace kbr
