#include "tests/operations/LinkContext.h"

#include "link/OperationFactory.h"

namespace kbr::test {

bool LinkContext::Connect(uint16_t port) {
    return Open("127.0.0.1", std::to_string(port)) && StartReceiver();
}

void LinkContext::Send(std::span<const uint8_t> request) {
    ++requestsSent;
    (void)DeviceLink::Send(request.data(), static_cast<int>(request.size()), NO_TIME_LIMIT);
}

void LinkContext::StartOperationTimer(uint32_t periodMs) {
    timerPeriod_ = std::chrono::milliseconds(periodMs);
    timerDue_ = Clock::now() + timerPeriod_;
}

void LinkContext::OnReceive(const uint8_t* bytes, int count) {
    {
        std::lock_guard lock(mutex_);
        replies_.emplace_back(bytes, bytes + count);
    }
    arrived_.notify_one();
}

void LinkContext::OnLinkEvent(int code) {
    if (code != LINK_LOST) return;
    {
        std::lock_guard lock(mutex_);
        lost_ = true;
    }
    arrived_.notify_one();
}

bool LinkContext::RunOperation(int function, std::string_view args, std::chrono::milliseconds limit) {
    std::unique_ptr<OperationHandler> operation = MakeOperation(function, *this);
    if (!operation) return true;
    const Clock::time_point deadline = Clock::now() + limit;
    operation->Start(args);
    while (active_) {
        std::unique_lock lock(mutex_);
        const Clock::time_point wake = timerDue_ ? std::min(*timerDue_, deadline) : deadline;
        arrived_.wait_until(lock, wake, [&] { return !replies_.empty() || lost_; });
        if (!replies_.empty()) {
            Bytes reply = std::move(replies_.front());
            replies_.pop_front();
            lock.unlock();
            active_->OnReply(reply);
        } else if (lost_) {
            // What the main window does on a lost link: stop, drop the work, hide the progress.
            lock.unlock();
            linkLost = true;
            active_ = nullptr;
            HideUpgradeProgress();
            DeviceLink::Stop();
        } else if (timerDue_ && Clock::now() >= *timerDue_) {
            lock.unlock();
            timerDue_ = Clock::now() + timerPeriod_;
            active_->OnTimeout();
        } else if (Clock::now() >= deadline) {
            return false;
        }
    }
    return true;
}

}  // namespace kbr::test
