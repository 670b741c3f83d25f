#include "ctl/CommandLine.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

#include "ProgramVersion.h"
#include "link/PrintableText.h"

namespace kbr::ctl {

namespace {

bool Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// "A.B.C.D:PORT" with a dotted IPv4 address and a port 1-65535, or "A.B.C.D" for the adaptor's port.
bool SplitAddress(const std::string& text, std::string& address, std::string& port) {
    const size_t colon = text.rfind(':');
    const std::string host = text.substr(0, colon);
    const std::string portText = colon == std::string::npos ? std::string(DEFAULT_PORT) : text.substr(colon + 1);
    in_addr parsed{};
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1 || portText.empty() || ec != std::errc() ||
        end != portText.data() + portText.size() || value == 0 || value > 65535) {
        return false;
    }
    address = host;
    port = std::to_string(value);
    return true;
}

// Seconds as a positive decimal number ("2", "0.5").
std::optional<std::chrono::milliseconds> Seconds(const std::string& text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value <= 0 ||
        value > 86400.0 * 365) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<int64_t>(std::ceil(value * 1000.0)));
}

const char* CommandName(Command command) {
    switch (command) {
        case Command::Help: return "help";
        case Command::Version: return "version";
        case Command::Probe: return "probe";
        case Command::Status: return "status";
        case Command::ConfigGet: return "config get";
        case Command::ConfigSet: return "config set";
        case Command::ConfigBackup: return "config backup";
        case Command::ConfigRestore: return "config restore";
        case Command::Upgrade: return "upgrade";
        case Command::Diag: return "diag";
        case Command::Reboot: return "reboot";
        case Command::Wait: return "wait";
    }
    return "?";
}

// -h or --help before "--": help, about the first command named (whatever else is given).
std::optional<Invocation> HelpRequest(const std::vector<std::string>& args) {
    const auto end = std::find(args.begin(), args.end(), "--");
    if (std::none_of(args.begin(), end, [](const std::string& arg) { return arg == "-h" || arg == "--help"; })) {
        return std::nullopt;
    }
    Invocation out;
    out.command = Command::Help;
    for (auto word = args.begin(); word != end && !out.helpFor; ++word) {
        const std::string name = *word == "config" && word + 1 != end ? "config " + *(word + 1) : *word;
        for (Command command :
             {Command::Probe, Command::Status, Command::ConfigGet, Command::ConfigSet, Command::ConfigBackup,
              Command::ConfigRestore, Command::Upgrade, Command::Diag, Command::Reboot, Command::Wait}) {
            if (name == CommandName(command)) out.helpFor = command;
        }
    }
    return out;
}

}  // namespace

std::optional<Invocation> ParseCommandLine(const std::vector<std::string>& args, std::string* error) {
    if (auto help = HelpRequest(args)) return help;
    Invocation out;
    std::vector<std::string> words;
    std::vector<std::string> given;  // command options, to check against the command
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const size_t equals = arg.find('='); equals != std::string::npos) {
            name = arg.substr(0, equals);
            inlineValue = arg.substr(equals + 1);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            Fail(error, name + " needs a value");
            return std::nullopt;
        };
        auto flag = [&](bool& target) {
            if (inlineValue) return Fail(error, name + " takes no value");
            target = true;
            given.push_back(name);
            return true;
        };
        if (name == "--version") {
            out.command = Command::Version;
            return out;
        }
        if (name == "--json") {
            if (!flag(out.json)) return std::nullopt;
            given.pop_back();
        } else if (name == "--address") {
            auto text = value();
            if (!text) return std::nullopt;
            if (!SplitAddress(*text, out.address, out.port)) {
                Fail(error, "--address '" + PrintableText(*text) +
                                "' is not ADDR or ADDR:PORT with an IPv4 address and a port 1-65535");
                return std::nullopt;
            }
        } else if (name == "--password-file") {
            auto text = value();
            if (!text) return std::nullopt;
            out.passwordFile = *text;
        } else if (name == "--password") {
            Fail(error,
                 "the password is never taken from the command line (ps would show it): use --password-file "
                 "FILE or " +
                     std::string(PASSWORD_VARIABLE) + ", or type it at the prompt");
            return std::nullopt;
        } else if (name == "--reply-timeout") {
            auto text = value();
            if (!text) return std::nullopt;
            out.replyTimeout = Seconds(*text);
            if (!out.replyTimeout) {
                Fail(error, "--reply-timeout '" + PrintableText(*text) + "' is not a number of seconds");
                return std::nullopt;
            }
        } else if (name == "--with-secrets") {
            if (!flag(out.withSecrets)) return std::nullopt;
        } else if (name == "--yes") {
            if (!flag(out.yes)) return std::nullopt;
        } else if (name == "--force") {
            if (!flag(out.force)) return std::nullopt;
        } else if (name == "--allow-older") {
            if (!flag(out.allowOlder)) return std::nullopt;
        } else if (name == "--wait") {
            if (!flag(out.wait)) return std::nullopt;
        } else if (name == "--next") {
            if (!flag(out.next)) return std::nullopt;
        } else if (name == "--watch" || name == "--timeout") {
            auto text = value();
            if (!text) return std::nullopt;
            const auto seconds = Seconds(*text);
            if (!seconds) {
                Fail(error, name + " '" + PrintableText(*text) + "' is not a number of seconds");
                return std::nullopt;
            }
            if (name == "--watch") {
                out.watch = *seconds;
            } else {
                out.waitTimeout = *seconds;
            }
            given.push_back(name);
        } else {
            Fail(error, "unknown option " + PrintableText(name) + " (see kbr3300ctl --help)");
            return std::nullopt;
        }
    }

    if (words.empty()) {
        Fail(error, "no command given (see kbr3300ctl --help)");
        return std::nullopt;
    }
    static const std::map<std::string, Command, std::less<>> simple = {
        {"probe", Command::Probe}, {"status", Command::Status}, {"upgrade", Command::Upgrade},
        {"diag", Command::Diag},   {"reboot", Command::Reboot}, {"wait", Command::Wait},
        {"help", Command::Help},
    };
    static const std::map<std::string, Command, std::less<>> config = {
        {"get", Command::ConfigGet},
        {"set", Command::ConfigSet},
        {"backup", Command::ConfigBackup},
        {"restore", Command::ConfigRestore},
    };
    size_t used = 1;
    if (words[0] == "config") {
        const auto sub = words.size() > 1 ? config.find(words[1]) : config.end();
        if (sub == config.end()) {
            Fail(error, "config needs one of get, set, backup, restore");
            return std::nullopt;
        }
        out.command = sub->second;
        used = 2;
    } else if (const auto it = simple.find(words[0]); it != simple.end()) {
        out.command = it->second;
    } else {
        Fail(error, "unknown command '" + PrintableText(words[0]) + "' (see kbr3300ctl --help)");
        return std::nullopt;
    }
    out.arguments.assign(words.begin() + static_cast<std::ptrdiff_t>(used), words.end());

    // Arguments and options each command takes.
    struct Shape {
        size_t minArgs, maxArgs;
        std::vector<std::string> options;
        const char* arguments;
    };
    static const std::map<Command, Shape> shapes = {
        {Command::Help, {0, 0, {}, ""}},
        {Command::Probe, {0, 0, {}, ""}},
        {Command::Status, {0, 0, {}, ""}},
        {Command::ConfigGet, {0, 0, {"--with-secrets"}, ""}},
        {Command::ConfigSet, {1, 5, {}, "KEY=VALUE..."}},
        {Command::ConfigBackup, {1, 1, {"--with-secrets"}, "FILE"}},
        {Command::ConfigRestore, {1, 1, {"--yes"}, "FILE"}},
        {Command::Upgrade, {1, 1, {"--force", "--allow-older"}, "FILE"}},
        {Command::Diag, {0, 0, {"--watch"}, ""}},
        {Command::Reboot, {0, 0, {"--wait", "--timeout"}, ""}},
        {Command::Wait, {0, 0, {"--timeout", "--next"}, ""}},
    };
    const Shape& shape = shapes.at(out.command);
    const std::string command = CommandName(out.command);
    if (out.arguments.size() < shape.minArgs || out.arguments.size() > shape.maxArgs) {
        Fail(error, shape.maxArgs == 0 ? command + " takes no arguments"
                                       : command + " takes " + shape.arguments + " (see kbr3300ctl --help)");
        return std::nullopt;
    }
    for (const std::string& option : given) {
        if (std::find(shape.options.begin(), shape.options.end(), option) == shape.options.end()) {
            Fail(error, option + " is not an option of " + command);
            return std::nullopt;
        }
    }
    if (out.command == Command::Reboot && !out.wait &&
        std::find(given.begin(), given.end(), "--timeout") != given.end()) {
        Fail(error, "--timeout of reboot needs --wait");
        return std::nullopt;
    }
    return out;
}

std::string VersionText() { return std::string("kbr3300ctl ") + PROGRAM_VERSION + "\n"; }

// help2man makes the manual page from this text and each command's own help
// (packaging/kbr3300ctl-manual.sh), so both keep the GNU layout it reads: "Usage:" and "or:"
// lines, headings ending in ':', and here each command listed two spaces in under "Commands:".
std::string HelpText() {
    return R"(Usage: kbr3300ctl [OPTION]... COMMAND [ARGUMENTS]
  or:  kbr3300ctl COMMAND --help
Talks to a KBR3300 adaptor in configuration mode, with the same requests as
the configuration program's pages. Cable the PC straight to the adaptor and
press its Config/Normal button until the Config LED is on.

Commands:
  probe                     connect; report the product id and firmware version
  status                    product id, firmware version, settings, diagnostics
  config get [--with-secrets]
                            the settings (passwords only with --with-secrets)
  config set KEY=VALUE...   change settings (keys below), then read them back
  config backup FILE [--with-secrets]
                            save the identity, firmware version and settings as
                            JSON (mode 0600); passwords only with --with-secrets
  config restore FILE [--yes]
                            check FILE as config set checks values, show what
                            would change, and write it after --yes or a
                            confirmation on the terminal
  upgrade FILE [--force] [--allow-older]
                            check the image and upgrade the firmware (two
                            passes); --force: the version the adaptor already
                            runs; --allow-older: an older version
  diag [--watch SECONDS]    the diagnostics, once or refreshed each second
  reboot [--wait [--timeout SECONDS]]
                            restart the adaptor; with --wait, until it answers
                            again
  wait [--next] [--timeout SECONDS]
                            wait until an adaptor answers (default 180 s);
                            --next: until the one answering now has gone and
                            one answers

Keys of config set:
  channel=N|scan          N: 15, 17, ..., 29 (4 to 9 in all-pass mode too)
  diplexer=dband|allpass  MoCA D Band or All Pass
  privacy=on|off          MoCA privacy
  admin_password=-        4 to 8 letters and digits
  network_password=-      12 to 17 digits
A new password is typed twice without echo, or read as a line of standard
input; never on the command line.

Options:
  --address ADDR[:PORT]    the adaptor (default 192.168.0.20; PORT: 52121)
  --json                   JSON: a query prints one object; upgrade, wait,
                           reboot --wait and diag --watch print one object per
                           event (JSON Lines), the result object last
  --password-file FILE     the administrator password: the first line of FILE
                           ("-": standard input); else KBR3300_PASSWORD, else a
                           prompt on the terminal. Never on the command line.
  --reply-timeout SECONDS  wait at most this long for any one answer (default:
                           each request's own limit, up to 200 s per upgrade
                           step)
  -h, --help               this help; after a command, that command's help
      --version            the program's version

Exit status:
  0  done
  1  refused by the adaptor (or declined: a question answered No, the same
     firmware version without --force, an older one without --allow-older)
  2  usage: a bad command line, setting value or backup file, or no password
  3  the adaptor is unreachable
  4  the firmware image file is not valid, or not for this adaptor
  5  the connection was lost, or the adaptor stopped answering, during the
     operation
  6  an upgrade aborted by Ctrl-C pressed twice

Errors are one line on standard error. See kbr3300ctl(1).
)";
}

// Each command's own help says more than the list above; the manual page's COMMANDS section is
// made of these texts. The usage line is followed by an empty line, and no line ending in ':'
// precedes an indented one (help2man would take it for a heading).
std::string CommandHelpText(Command command) {
    switch (command) {
        case Command::Probe:
            return R"(Usage: kbr3300ctl probe

Connects and reports the product id and firmware version. No password is
needed.
)";
        case Command::Status:
            return R"(Usage: kbr3300ctl status

The product id, firmware version, settings (passwords not shown) and
diagnostics.
)";
        case Command::ConfigGet:
            return R"(Usage: kbr3300ctl config get [--with-secrets]

The settings: firmware version, diplexer, channel, channel and scan masks,
privacy, transmit power.

  --with-secrets  show the passwords too
)";
        case Command::ConfigSet:
            return R"(Usage: kbr3300ctl config set KEY=VALUE...

Changes settings, checks them as the pages do (with the pages' messages),
writes them all and reads them back. Nothing is written when a value is refused.

  channel=N|scan          N: 15, 17, ..., 29 (4 to 9 in all-pass mode too), as
                          the diplexer mode in effect offers (the new one when
                          the same command changes it); scan: all of them
  diplexer=dband|allpass  MoCA D Band or All Pass
  privacy=on|off          MoCA privacy
  admin_password=-        4 to 8 letters and digits
  network_password=-      12 to 17 digits

A new password is typed twice without echo on a terminal; otherwise it is the
next line of standard input (after the login password's with --password-file -;
one line per key, in the order the keys are given). It is never taken from the
command line, where ps would show it.
)";
        case Command::ConfigBackup:
            return R"(Usage: kbr3300ctl config backup FILE [--with-secrets]

Saves the identity, firmware version and settings as JSON in FILE (mode 0600,
replaced in one step).

  --with-secrets  save the passwords too
)";
        case Command::ConfigRestore:
            return R"(Usage: kbr3300ctl config restore FILE [--yes]

Checks FILE (a backup of an adaptor with the same product id, at most 64 KiB)
as config set checks values, shows what would change, and writes it after a
Yes on the terminal. Passwords the backup does not hold stay as they are.
Backups of the earlier format are read too.

  --yes  write without being asked
)";
        case Command::Upgrade:
            return R"(Usage: kbr3300ctl upgrade FILE [--force] [--allow-older]

Checks the image as the pages do and upgrades the firmware in two passes,
trying a failed pass once more. The new firmware starts after a reboot; do not
remove power before.

  --force        upgrade to the version the adaptor already runs (without it,
                 only after a Yes on the terminal)
  --allow-older  upgrade to an older version

Ctrl-C during the transfer only warns; a second Ctrl-C within 5 seconds aborts
(exit code 6), leaving the adaptor with part of the new firmware: upgrade it
again before restarting it.
)";
        case Command::Diag:
            return R"(Usage: kbr3300ctl diag [--watch SECONDS]

The diagnostics.

  --watch SECONDS  read them each second for SECONDS
)";
        case Command::Reboot:
            return R"(Usage: kbr3300ctl reboot [--wait [--timeout SECONDS]]

Restarts the adaptor (it takes about 2 minutes).

  --wait             until it has gone and answers again
  --timeout SECONDS  how long --wait waits (default 180)
)";
        case Command::Wait:
            return R"(Usage: kbr3300ctl wait [--next] [--timeout SECONDS]

Waits until an adaptor answers its product id. No password is needed.

  --next             first until the adaptor answering now stops answering
                     (unplugged, or restarting), then until one answers
  --timeout SECONDS  how long to wait (default 180)
)";
        case Command::Help:
        case Command::Version: break;
    }
    return HelpText();
}

}  // namespace kbr::ctl
