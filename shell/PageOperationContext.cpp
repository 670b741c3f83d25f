#include "shell/PageOperationContext.h"

#include "link/DeviceLink.h"
#include "shell/CHtmlDialog.h"
#include "shell/ConfigServices.h"
#include "shell/UpgradeProgressDialog.h"

#include <algorithm>
#include <cstdint>

namespace kbr {

void PageOperationContext::Send(std::span<const uint8_t> request) {
    if (DeviceLink* link = window_.link_) {
        (void)link->Send(request.data(), static_cast<int>(request.size()), DeviceLink::NO_TIME_LIMIT);
    }
}

void PageOperationContext::StartOperationTimer(uint32_t periodMs) {
    window_.operationTimer_.start(static_cast<int>(std::min<uint32_t>(periodMs, INT32_MAX)));
}

void PageOperationContext::KillOperationTimer() { window_.operationTimer_.stop(); }

void PageOperationContext::CallPage(std::string_view function, const std::vector<std::string>& args,
                                    PageCallForm form) {
    PageScript& script = window_.HtmlCtrl().Script();
    if (form == PageCallForm::CallFunctionWithArray) {
        (void)script.CallFunctionWithArray(std::string(function), args);
    } else {
        (void)script.CallFunction(std::string(function), args);
    }
}

void PageOperationContext::CompleteOperation(int result) { window_.CompleteOperation(result); }

void PageOperationContext::SetActiveOperation(OperationHandler* operation) {
    if (!operation) {
        window_.active_.reset();
    } else if (window_.starting_ && window_.starting_.get() == operation) {
        window_.active_ = window_.starting_;
    } else if (window_.active_.get() != operation) {
        // Not one the window started: held without ownership.
        window_.active_ = std::shared_ptr<OperationHandler>(std::shared_ptr<void>(), operation);
    }
}

OperationHandler* PageOperationContext::ActiveOperation() const { return window_.active_.get(); }

void PageOperationContext::ShowMessage(std::string_view text) {
    (void)window_.services_.ShowBox({&window_, QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())),
                                     QString::fromLatin1(PROGRAM_CAPTION), MBOX_OK});
}

bool PageOperationContext::AskYesNo(std::string_view question) {
    return window_.services_.ShowBox({&window_,
                                      QString::fromLocal8Bit(question.data(), static_cast<qsizetype>(question.size())),
                                      QString::fromLatin1(PROGRAM_CAPTION), MBOX_YESNO}) == ANSWER_YES;
}

void PageOperationContext::CreateUpgradeProgress() {
    if (!window_.progress_) window_.progress_ = new UpgradeProgressDialog(&window_);
}

void PageOperationContext::ShowUpgradeProgress(int maximum) {
    CreateUpgradeProgress();
    window_.progress_->Begin(maximum);
}

void PageOperationContext::AdvanceUpgradeProgress() {
    if (window_.progress_) window_.progress_->Advance();
}

void PageOperationContext::HideUpgradeProgress() { window_.HideUpgradeProgress(); }

PageDeviceState& PageOperationContext::State() { return window_.state_; }

}  // namespace kbr
