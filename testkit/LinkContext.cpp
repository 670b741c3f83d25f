#include "testkit/LinkContext.h"

namespace kbr::test {

LinkContext::LinkContext() : state(runner_.State()) {
    OperationRunner::Hooks hooks;
    hooks.sent = [this](std::span<const uint8_t>) { ++requestsSent; };
    hooks.pageCall = [this](const PageCallRecord& call) { pageCalls.push_back(call.function); };
    hooks.message = [this](std::string_view text) { messages.emplace_back(text); };
    hooks.askYesNo = [](std::string_view) { return true; };
    hooks.progressShown = [this](int maximum) {
        progressMaximum = maximum;
        progressPosition = 0;
        progressVisible = true;
    };
    hooks.progressAdvanced = [this] { ++progressPosition; };
    hooks.progressHidden = [this] { progressVisible = false; };
    runner_.SetHooks(std::move(hooks));
}

bool LinkContext::Connect(uint16_t port) { return runner_.Connect("127.0.0.1", std::to_string(port)); }

bool LinkContext::RunOperation(PageFunction function, std::string_view args, std::chrono::milliseconds limit) {
    const auto deadline = OperationRunner::Clock::now() + limit;
    bool late = false;
    OperationRunner::Hooks hooks = runner_.GetHooks();
    hooks.stop = [&] { return late = OperationRunner::Clock::now() >= deadline; };
    runner_.SetHooks(hooks);
    const RunOutcome outcome = runner_.Run(function, args);
    hooks.stop = nullptr;
    runner_.SetHooks(std::move(hooks));
    if (outcome.completion) completions.push_back(*outcome.completion);
    if (outcome.lost) {
        // What the main window does on a lost link: drop the work, hide the progress.
        linkLost = true;
        progressVisible = false;
    }
    return !late;
}

}  // namespace kbr::test
