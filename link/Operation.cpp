#include "link/Operation.h"

#include <string_view>

#include "link/OperationContext.h"

namespace kbr {

void OperationHandler::Handle(OperationEvent event, std::span<const uint8_t> data) {
    switch (event) {
        case OP_START: Start(std::string_view(reinterpret_cast<const char*>(data.data()), data.size())); break;
        case OP_TIMEOUT: OnTimeout(); break;
        case OP_REPLY: OnReply(data); break;
    }
}

void Operation::OnTimeout() {
    if (IsCurrent()) Timeout();
}

void Operation::OnReply(std::span<const uint8_t> received) {
    if (IsCurrent()) Reply(received);
}

void Operation::BecomeActive(uint32_t periodMs, std::span<const uint8_t> request) {
    running_ = true;
    finished_ = false;
    context_.SetActiveOperation(this);
    context_.StartOperationTimer(periodMs);
    context_.Send(request);
}

bool Operation::IsCurrent() const { return running_ && context_.ActiveOperation() == this; }

void Operation::Finish(std::optional<int> result) {
    if (finished_) return;
    finished_ = true;
    if (running_) {
        running_ = false;
        if (context_.ActiveOperation() != this) return;  // dropped meanwhile: nothing is ours any more
        context_.KillOperationTimer();
        context_.SetActiveOperation(nullptr);
    } else {
        context_.KillOperationTimer();
    }
    if (result) context_.CompleteOperation(*result);
}

}  // namespace kbr
