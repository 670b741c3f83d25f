#pragma once
// kbr3300ctl's command line: global options, one command and its own options and arguments.
// Options may stand anywhere; "--" ends them.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/ProgramNames.h"

namespace kbr::ctl {

// The tool's exit codes, as --help and the manual page give them.
enum ExitCode : int {
    EXIT_DONE = 0,
    EXIT_REFUSED = 1,      // the adaptor refused (or the work was declined)
    EXIT_USAGE = 2,        // a bad command line, value or backup file
    EXIT_UNREACHABLE = 3,  // no connection to the adaptor
    EXIT_BAD_IMAGE = 4,    // the firmware image file is not valid (or not for this adaptor)
    EXIT_LOST = 5,         // the connection broke, or the adaptor stopped answering
    EXIT_INTERRUPTED = 6,  // an upgrade stopped by the user (Ctrl-C twice)
};

inline constexpr const char* DEFAULT_ADDRESS = platform::DEVICE_ADDRESS;
inline constexpr const char* DEFAULT_PORT = platform::DEVICE_PORT;
inline constexpr const char* PASSWORD_VARIABLE = "KBR3300_PASSWORD";

enum class Command {
    Help,
    Version,
    Probe,
    Status,
    ConfigGet,
    ConfigSet,
    ConfigBackup,
    ConfigRestore,
    Upgrade,
    Diag,
    Reboot,
    Wait
};

struct Invocation {
    Command command = Command::Help;
    std::optional<Command> helpFor;  // Help: the command it is about (none: all)
    std::string address = DEFAULT_ADDRESS;
    std::string port = DEFAULT_PORT;
    bool json = false;
    std::optional<std::string> passwordFile;
    std::optional<std::chrono::milliseconds> replyTimeout;             // caps every operation's timer
    std::vector<std::string> arguments;                                // KEY=VALUE... or FILE
    bool withSecrets = false;                                          // config get, config backup
    bool yes = false;                                                  // config restore
    bool force = false;                                                // upgrade
    bool allowOlder = false;                                           // upgrade
    bool wait = false;                                                 // reboot
    bool next = false;                                                 // wait
    std::optional<std::chrono::milliseconds> watch;                    // diag
    std::chrono::milliseconds waitTimeout{std::chrono::seconds(180)};  // wait, reboot --wait

    std::string Endpoint() const { return address + ":" + port; }
    // Long work, whose --json output is a stream of events before the result.
    bool LongWork() const {
        return command == Command::Upgrade || command == Command::Wait || (command == Command::Reboot && wait) ||
               (command == Command::Diag && watch);
    }
};

// Nothing, and the reason, for a usage error.
std::optional<Invocation> ParseCommandLine(const std::vector<std::string>& args, std::string* error);
std::string HelpText();
// Help for one command: its usage, what it does and its options.
std::string CommandHelpText(Command command);
std::string VersionText();

}  // namespace kbr::ctl
