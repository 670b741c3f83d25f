#pragma once
// The facts the IP helper reports about this PC's network: which IPv4 address is the PC's
// primary one, and a description of every interface. The choice of address is plain C++ over
// collected facts, so it can be checked with made-up interfaces.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbr::nwinf {

inline constexpr const char* NO_ADDRESS = "0.0.0.0";
inline constexpr const char* IPINFO_FILE = "ipinfo.tmp";
inline constexpr const char* NICINFO_FILE = "nicinfo.tmp";

struct InterfaceFacts {
    std::string name;
    std::string hardwareAddress;
    bool up = false;
    bool running = false;
    bool loopback = false;
    int mtu = 0;
    std::vector<std::string> ipv4;   // dotted, e.g. "192.168.1.33"
    std::vector<std::string> other;  // every address with its prefix length, e.g. "fe80::1/64"
};

// The interfaces as the operating system reports them now.
std::vector<InterfaceFacts> CollectInterfaces();

// Name of the interface that carries the IPv4 default route, from a Linux /proc/net/route table
// (lowest metric wins); empty when there is none or the text is not such a table.
std::string DefaultRouteInterfaceFromTable(std::string_view routeTable);
// The same for this machine (empty where the table is not available).
std::string DefaultRouteInterface();

// The PC's primary IPv4 address in dotted form, NO_ADDRESS when it has none. Only interfaces
// that are up and running and not loopback count. The default-route interface comes first; among
// the others an interface with a routable address comes before one that only holds a link-local
// (169.254) address; on one interface a routable address comes before a link-local one.
std::string PrimaryIPv4(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface);
// The interface that PrimaryIPv4 takes its address from; empty when there is none.
std::string PrimaryInterface(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface);

// "ipinfo.tmp": the address on the first line.
std::string FormatIpInfo(std::string_view address);
// "nicinfo.tmp": one block per interface.
std::string FormatNicInfo(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface);

// Writes `content` to `directory`/`name` through a temporary file and a rename, so a reader
// never sees half a file. False on any failure.
[[nodiscard]] bool WriteFileWhole(const std::string& directory, const std::string& name, std::string_view content);

struct Options {
    int mode = 0;              // 1: at program start-up, 2: refresh; both renew
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
    "  Renews this PC's address (where the system allows it), then writes ipinfo.tmp (first line:\n"
    "  the primary IPv4 address, 0.0.0.0 when there is none) and nicinfo.tmp into the current\n"
    "  directory.\n"
    "  --no-renew               report only; do not renew\n"
    "  --renew-command=PROGRAM  renew by running PROGRAM with the interface name\n"
    "  NWINF_NO_RENEW=1 in the environment works like --no-renew.\n";

}  // namespace kbr::nwinf
