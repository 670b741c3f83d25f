#pragma once
// A stand-in for everything the configuration program does outside its windows: the browser
// host's part as FakeHost records it, Reminders counted instead of shown, and a system in which
// sockets start, no process runs and nothing is started.

#include "tests/browser/FakeHostServices.h"

#include "shell/ConfigServices.h"

#include <functional>
#include <string>
#include <vector>

namespace kbr::test {

class FakeConfigServices : public FakeHost<ConfigServices> {
public:
    // Reminders shown; `duringReminder` runs in place of the dialog.
    int reminders = 0;
    std::function<void()> duringReminder;

    void ShowReminder() override {
        ++reminders;
        if (duringReminder) duringReminder();
    }
    bool InitSockets() override { return true; }
    std::vector<platform::ProcessInfo> FindProcesses(std::string_view) override { return {}; }
    bool TerminateAndWait(int64_t) override { return false; }
    void StartHidden(const std::string&, const std::vector<std::string>&) override {}
};

}  // namespace kbr::test
