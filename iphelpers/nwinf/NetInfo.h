#pragma once
// The facts the IP helper reports about this PC's network: which IPv4 address is the PC's
// primary one, and a description of every interface. The choice of address is plain C++ over
// collected facts, so it can be checked with made-up interfaces.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Network.h"

namespace kbr::nwinf {

inline constexpr const char* NO_ADDRESS = "0.0.0.0";
inline constexpr const char* IPINFO_FILE = "ipinfo.tmp";
inline constexpr const char* NICINFO_FILE = "nicinfo.tmp";

// An interface as the system reports it (platform/Network.h).
using InterfaceFacts = platform::NetworkInterface;

// The PC's primary IPv4 address in dotted form, NO_ADDRESS when it has none. Only interfaces
// that are up and running and not loopback count. The default-route interface comes first; among
// the others an interface with a routable address comes before one that only holds a link-local
// (169.254) address; on one interface a routable address comes before a link-local one.
std::string PrimaryIPv4(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface);
// The interface that PrimaryIPv4 takes its address from; empty when there is none.
std::string PrimaryInterface(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface);

// The interface that faces the adaptor in its configuration mode: of those that are up and hold an
// address of the adaptor's 192.168.0.x network, `routeInterface` (the one the route towards
// 192.168.0.20 leaves from), else the first; empty when none does.
std::string AdaptorInterface(const std::vector<InterfaceFacts>& interfaces, std::string_view routeInterface = {});
// The IPv4 address `name` holds (a routable one before a link-local one), NO_ADDRESS when it is
// down, missing or holds none.
std::string AddressOf(const std::vector<InterfaceFacts>& interfaces, std::string_view name);

// What became of the renewal, for the files and the verdict.
struct RenewalStatus {
    enum class State {
        None,     // nothing was asked (start-up: report only)
        Skipped,  // turned off (--no-renew, NWINF_NO_RENEW=1)
        Renewed,
        Failed,
    };
    State state = State::None;
    std::string reason;  // Failed: why
};
// "renewal=ok", "renewal=failed reason=...", "renewal=skipped", "renewal=none".
std::string RenewalLine(const RenewalStatus& status);

// "ipinfo.tmp": the address on the first line, the renewal's outcome on the second.
std::string FormatIpInfo(std::string_view address, const RenewalStatus& renewal = {});
// "nicinfo.tmp": which interface faces the adaptor (when known), the renewal's outcome, then one
// block per interface.
std::string FormatNicInfo(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface,
                          std::string_view adaptorInterface = {}, const RenewalStatus& renewal = {});

// What a system may name an interface, so that a recorded name that could pass for an option, a
// path or (for ipconfig) a pattern is never used: Linux's names (at most 15 bytes, no '/', ':' or
// blanks), or Windows' connection names (at most 255 characters, blanks allowed, none of '*', '?'
// or '"', not starting with '/' or '-').
enum class NameRules { Linux, Windows };
#ifdef _WIN32
inline constexpr NameRules SYSTEM_NAME_RULES = NameRules::Windows;
#else
inline constexpr NameRules SYSTEM_NAME_RULES = NameRules::Linux;
#endif
bool IsInterfaceName(std::string_view name, NameRules rules = SYSTEM_NAME_RULES);

// The adaptor's interface as an earlier nicinfo.tmp recorded it; empty when it did not, or when
// what it recorded is no interface name by `rules`.
std::string RecordedAdaptorInterface(std::string_view nicinfo, NameRules rules = SYSTEM_NAME_RULES);
inline constexpr const char* ADAPTOR_INTERFACE_KEY = "adaptor_interface=";

// Why a renewal program failed, for the files and the log: "PROGRAM failed", followed by ": " and
// the last line of what it wrote to standard error (at most 200 characters) when it wrote any.
std::string FailureReason(const std::string& program, std::string_view errors);

struct Options {
    int mode = 0;              // 1: at program start-up (report only), 2: refresh (renew, then report)
    bool renew = true;         // false with --no-renew
    std::string renewCommand;  // --renew-command=PROGRAM: run PROGRAM INTERFACE instead of the system's renewal
};
// Set to 1 in the environment, it has the effect of --no-renew (for demos and tests that run the
// whole program).
inline constexpr const char* NO_RENEW_VARIABLE = "NWINF_NO_RENEW";
// Parses the command line (without the program name). Nothing when it is not understood.
std::optional<Options> ParseArguments(const std::vector<std::string>& arguments);
inline constexpr const char* USAGE =
    "usage: nwinf [--no-renew] [--renew-command=PROGRAM] 1|2\n"
    "  1: at start-up, while the PC is cabled to the adaptor: records which interface faces it.\n"
    "  2: renews that interface's DHCP lease (else every wired one that holds a lease).\n"
    "  Then writes ipinfo.tmp (first line: that interface's IPv4 address, 0.0.0.0 when there is\n"
    "  none; second line: the renewal's outcome) and nicinfo.tmp into the current directory.\n"
    "  --no-renew               report only; do not renew\n"
    "  --renew-command=PROGRAM  renew by running PROGRAM with the interface name\n"
    "  NWINF_NO_RENEW=1 in the environment works like --no-renew.\n";

}  // namespace kbr::nwinf
