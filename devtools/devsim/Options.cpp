#include "devtools/devsim/Options.h"

#include <charconv>

namespace kbr::devsim {

namespace {

bool SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// A whole decimal number from 0 to max, nothing else.
std::optional<unsigned> WholeNumber(const std::string& text, unsigned max) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
    return value;
}

}  // namespace

std::string UsageText() {
    return "usage: kbr3300-devsim [--listen ADDR:PORT] [--password PW] [--product-id ID]\n"
           "                      [--firmware-version A.B.C.D] [--state FILE] [--fault REQ:N:ACTION]...\n"
           "                      [--dump-dir DIR] [--reboot-time MS] [--idle-timeout S] [--no-login-check]\n"
           "                      [--verbose]\n"
           "\n"
           "A simulated KBR3300 in configuration mode: serves the device protocol over TCP.\n"
           "\n"
           "  --listen ADDR:PORT    where to listen (default " +
           DEFAULT_LISTEN +
           ", which exists only inside a\n"
           "                        private network namespace; port 0 picks a free port)\n"
           "  --password PW         factory login password, the admPswd setting (default \"admin\", 8 characters\n"
           "                        at most)\n"
           "  --product-id ID       what \"c:prod_id\" answers (default \"KBR3300\")\n"
           "  --firmware-version V  factory firmware version: reply headers and \"a:version\" (default 1.0.2.3)\n"
           "  --state FILE          remember the settings (and firmware installed by a reboot) in FILE across\n"
           "                        restarts; what FILE holds wins over --password and --firmware-version\n"
           "  --fault REQ:N:ACTION  the N-th request of type REQ (a number) on each connection gets ACTION:\n"
           "                        status, wrong-type, short16, silent or close; may be repeated\n"
           "  --dump-dir DIR        write each completely received upgrade section to DIR/section1.bin and\n"
           "                        DIR/section2.bin\n"
           "  --reboot-time MS      how long a reboot keeps the device unreachable (default 2000 ms)\n"
           "  --idle-timeout S      close a connection that has said nothing for S seconds, unless it logged\n"
           "                        in (default 60; 0: never)\n"
           "  --no-login-check      serve configuration writes, upgrades and reboots without a login on the\n"
           "                        connection first (for tests of clients that never log in)\n"
           "  --verbose             one line on standard error per request\n"
           "\n"
           "The first line on standard output is \"listening on ADDR:PORT\" with the port in use.\n"
           "REQ_SET_CONFIG, REQ_UPGRADE_START, REQ_UPGRADE_DATA and REQ_ACTION get a failure status until a login\n"
           "with the right password succeeded on the same connection (unless --no-login-check). All\n"
           "connections together hold at most 32 MiB of upgrade sections while they arrive.\n"
           "REQ_ACTION reboots the simulated device: it answers REP_ACTION with status 0, closes every\n"
           "connection and refuses new ones for the reboot time, then serves again with its stored settings.\n"
           "An image whose two sections arrived whole and intact since the last boot is installed: its\n"
           "\"version\" tag becomes the firmware version. The diagnostics counters start again.\n";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--no-login-check") {
            options.requireLogin = false;
            continue;
        }
        if (name == "--verbose" || name == "-v") {
            options.verbose = true;
            continue;
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            SetError(error, name + " needs a value");
            return std::nullopt;
        };
        if (name == "--listen") {
            auto v = value();
            if (!v) return std::nullopt;
            options.listen = *v;
        } else if (name == "--password") {
            auto v = value();
            if (!v) return std::nullopt;
            if (v->size() > 8) {
                SetError(error, "--password: at most 8 characters (the device keeps 8)");
                return std::nullopt;
            }
            options.settings.admPswd = *v;
        } else if (name == "--product-id") {
            auto v = value();
            if (!v) return std::nullopt;
            if (v->size() > 255) {
                SetError(error, "--product-id: at most 255 characters");
                return std::nullopt;
            }
            options.identity.productId = *v;
        } else if (name == "--firmware-version") {
            auto v = value();
            if (!v) return std::nullopt;
            auto version = ParseFirmwareVersion(*v);
            if (!version) {
                SetError(error, "--firmware-version: '" + *v + "' is not A.B.C.D with numbers 0-255");
                return std::nullopt;
            }
            options.identity.firmware = *version;
        } else if (name == "--state") {
            auto v = value();
            if (!v) return std::nullopt;
            options.statePath = *v;
        } else if (name == "--dump-dir") {
            auto v = value();
            if (!v) return std::nullopt;
            options.dumpDir = *v;
        } else if (name == "--reboot-time") {
            auto v = value();
            if (!v) return std::nullopt;
            const auto ms = WholeNumber(*v, 600000);
            if (!ms) {
                SetError(error, "--reboot-time: '" + *v + "' is not a number of milliseconds 0-600000");
                return std::nullopt;
            }
            options.rebootTime = std::chrono::milliseconds(*ms);
        } else if (name == "--idle-timeout") {
            auto v = value();
            if (!v) return std::nullopt;
            const auto seconds = WholeNumber(*v, 86400);
            if (!seconds) {
                SetError(error, "--idle-timeout: '" + *v + "' is not a number of seconds 0-86400");
                return std::nullopt;
            }
            options.idleTimeout = std::chrono::seconds(*seconds);
        } else if (name == "--fault") {
            auto v = value();
            if (!v) return std::nullopt;
            auto fault = ParseFaultSpec(*v, error);
            if (!fault) return std::nullopt;
            options.faults.push_back(*fault);
        } else {
            SetError(error, "unknown argument '" + args[i] + "'");
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace kbr::devsim
