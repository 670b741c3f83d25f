#include "testkit/LinkContext.h"

#include "link/OperationFactory.h"

namespace kbr::test {

bool LinkContext::Connect(uint16_t port) { return Open("127.0.0.1", std::to_string(port)) && StartReceiver(); }

void LinkContext::Send(std::span<const uint8_t> request) {
    ++requestsSent;
    (void)DeviceLink::Send(request.data(), static_cast<int>(request.size()), NO_TIME_LIMIT);
}

void LinkContext::StartOperationTimer(uint32_t periodMs) {
    timerPeriod_ = std::chrono::milliseconds(periodMs);
    timerDue_ = Clock::now() + timerPeriod_;
}

void LinkContext::OnReceive(const uint8_t* bytes, int count) { replies_.PostReply(bytes, count); }

void LinkContext::OnLinkEvent(int code) {
    if (code == LINK_LOST) replies_.PostLoss();
}

bool LinkContext::RunOperation(PageFunction function, std::string_view args, std::chrono::milliseconds limit) {
    std::unique_ptr<OperationHandler> operation = MakeOperation(function, *this);
    if (!operation) return true;
    const Clock::time_point deadline = Clock::now() + limit;
    operation->Start(args);
    Bytes reply;
    while (active_) {
        const Clock::time_point wake = timerDue_ ? std::min(*timerDue_, deadline) : deadline;
        switch (replies_.Take(reply, wake)) {
            case ReplyHandOver::Taken::Reply: active_->OnReply(reply); break;
            case ReplyHandOver::Taken::Lost:
                // What the main window does on a lost link: stop, drop the work, hide the progress.
                linkLost = true;
                active_ = nullptr;
                HideUpgradeProgress();
                DeviceLink::Stop();
                replies_.Clear();
                break;
            case ReplyHandOver::Taken::TimedOut:
                if (timerDue_ && Clock::now() >= *timerDue_) {
                    timerDue_ = Clock::now() + timerPeriod_;
                    active_->OnTimeout();
                } else if (Clock::now() >= deadline) {
                    return false;
                }
                break;
        }
    }
    return true;
}

}  // namespace kbr::test
