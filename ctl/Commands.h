#pragma once
// kbr3300ctl's commands, each a sequence of the configuration program's device operations run
// over the tool's OperationRunner: connect, log in (every command but probe and wait), then the
// operations the pages would run for the same work.

#include <functional>
#include <optional>
#include <string>

#include "ctl/CommandLine.h"
#include "ctl/Output.h"
#include "ctl/Settings.h"
#include "link/OperationRunner.h"

namespace kbr::ctl {

// What the commands need from outside: the password's sources and the user's answers. The
// defaults are the real ones (the environment, the terminal); tests replace them.
struct Surroundings {
    std::function<std::optional<std::string>(const char* name)> environment;
    std::function<std::optional<std::string>(std::string_view prompt)> readSecret;
    std::function<std::optional<bool>(std::string_view question)> ask;
    std::function<std::optional<std::string>()> readLine;  // the next line of standard input
    bool progressBar = false;                              // standard error is a terminal
};
Surroundings RealSurroundings();

// How a command or one of its steps ended: its exit code and, for a failure, its one line (what
// was expected and what came, where the adaptor answered otherwise).
struct [[nodiscard]] CommandResult {
    int exitCode = EXIT_DONE;
    std::string message;
};

class CommandSession {
public:
    CommandSession(const Invocation& invocation, const Reporter& reporter, Surroundings surroundings);

    // Runs the command and reports a failure; the exit code.
    int Execute();

private:
    // A step that failed.
    using Failed = CommandResult;

    CommandResult Run();
    // Each command, in the file of its group: QueryCommands, ConfigCommands, UpgradeCommand,
    // WaitCommands.
    CommandResult Probe();
    CommandResult Status();
    CommandResult ConfigGet();
    CommandResult ConfigSet();
    CommandResult ConfigBackup();
    CommandResult ConfigRestore();
    CommandResult Upgrade();
    CommandResult Diag();
    CommandResult Reboot();
    CommandResult Wait();

    std::optional<Failed> Connect();
    // The administrator password from its sources, once.
    std::optional<Failed> ObtainPassword();
    // A new password for a config set change: typed twice without echo, or a line of input.
    std::optional<Failed> ReadNewPassword(SettingChange& change);
    std::optional<Failed> Login();
    // Waits until an adaptor answers (with goneFirst: after the one answering now has stopped
    // answering); its product id.
    std::optional<Failed> WaitForAdaptor(std::chrono::milliseconds timeout, bool goneFirst, std::string& productId);
    // One try: connects, reads the product id, disconnects.
    bool Answers(std::chrono::milliseconds left, std::string& productId);
    std::optional<Failed> ReadValue(PageFunction function, std::string_view what, std::string& value);
    std::optional<Failed> ReadConfig(DeviceConfig& config);
    // The pending values through the page functions, the write (7), then a read back into after.
    std::optional<Failed> WriteConfig(const std::vector<PendingValue>& values, DeviceConfig& after);
    std::optional<Failed> ReadDiagnostics(std::string& first, std::string& second);

    // Why an operation failed, as an exit code and one line.
    Failed Failure(const RunOutcome& outcome, std::string_view what);
    Failed Fail(int code, const std::string& message);

    void ShowConfig(const DeviceConfig& config, bool withSecrets) const;

    const Invocation& invocation_;
    const Reporter& reporter_;
    Surroundings surroundings_;
    OperationRunner context_;
    std::optional<std::string> password_;
};

}  // namespace kbr::ctl
