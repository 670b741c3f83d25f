#include "link/ValueOperations.h"

#include "link/Messages.h"
#include "link/OperationContext.h"

namespace kbr {

// ---- LoginOperation

void LoginOperation::Start(std::string_view password) { BecomeActive(TIMER_MS, BuildLoginRequest(password)); }

void LoginOperation::Reply(std::span<const uint8_t> received) {
    // Whatever its type: only the status counts. A read too short to hold a status is a refusal.
    const Decoded<MessageHeader> header = ReadReplyHeader(received);
    const bool accepted = header && header->status == 0;
    Context().CallPage("CallbackLogin", {accepted ? "0" : "1"}, PageCallForm::CallFunction);
    Context().Report(LoginAnswered{accepted});
    Finish(0);  // the login's own result reached the page through CallbackLogin
}

void LoginOperation::Timeout() {
    Finish(std::nullopt);
    Context().ShowMessage("Unable to login");
}

// ---- ActionOperation

void ActionOperation::Start(std::string_view) { BecomeActive(TIMER_MS, BuildActionRequest()); }

void ActionOperation::Reply(std::span<const uint8_t> received) {
    Finish(IsAcceptedReply(received, REP_ACTION) ? 0 : 1);
}

void ActionOperation::Timeout() { Finish(1); }

// ---- ReadValueOperation

void ReadValueOperation::Start(std::string_view) { BecomeActive(TIMER_MS, BuildGetValueRequest(key_)); }

void ReadValueOperation::Reply(std::span<const uint8_t> received) {
    // A value reply without its text field counts as failed; nothing past the read is used.
    const Decoded<std::string> value = ReadValueReply(received);
    if (value) {
        Context().CallPage(pageFunction_, {*value}, PageCallForm::CallFunction);
        Context().Report(ValueRead{Function(), key_, *value});
    }
    Finish(value ? 0 : 1);
}

void ReadValueOperation::Timeout() { Finish(1); }

}  // namespace kbr
