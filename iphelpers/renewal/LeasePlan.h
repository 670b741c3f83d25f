#pragma once
// Which DHCP client holds a lease for which wired interface of this PC, and which commands give
// those leases up (release) or fetch them anew (renew). Only what holds a DHCP lease is touched:
// an adapter with a static address, one configured outside NetworkManager ("connected
// (externally)") or one no client looks after is left alone, and dhclient is never started on an
// interface NetworkManager manages. Plain C++ over collected facts, no side effects:
// LeaseSystem.h gathers the facts and runs the plans.
//
// What renews and what does not (each seen on a DHCP server's log):
// - NetworkManager: `nmcli device connect IFACE` on a connected device starts a new exchange, and
//   so does `nmcli connection up UUID ifname IFACE` after a disconnect; `nmcli device reapply`
//   does not. `nmcli device disconnect` sends no DHCPRELEASE.
// - dhclient: `dhclient -r` releases the lease and stops the running client; it must come before
//   a new `dhclient`, since a second client on the same interface runs beside the first, and when
//   either one's lease ends its script flushes every IPv4 address of the interface.
// - systemd-networkd: `networkctl reconfigure IFACE` fetches a new lease; `networkctl renew` keeps
//   asking the old server.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kbr::renewal {

enum class Client { NetworkManager, Dhclient, Networkd };
std::string_view ClientName(Client client);

struct NmDevice {
    std::string name;
    std::string type;            // "ethernet", "wifi", "loopback", ...
    std::string state;           // "connected", "connected (externally)", "disconnected", ...
    std::string connectionUuid;  // of the active connection; empty when none
};

// Parses `nmcli -t -f DEVICE,TYPE,STATE,CON-UUID device status`: one device a line, fields
// separated by ':' with '\:' and '\\' as escapes. The fourth field may be missing. Lines without
// a name or with more fields are skipped.
std::vector<NmDevice> ParseNmcliDevices(std::string_view text);

// One running ISC dhclient as its command line describes it.
struct DhclientProcess {
    int64_t pid = 0;
    // The interfaces named on its command line; empty: every interface (dhclient's default).
    std::vector<std::string> interfaces;
    // Its own files, given again to the commands that release or restart it: -pf and -lf with
    // their values, in their order, and only those in DHCLIENT_FILE_FOLDERS. A script, a
    // configuration or a variable (-sf, -cf, -e) is never kept.
    std::vector<std::string> keptArguments;
};

// Where a dhclient's pid and lease files are kept when root starts it (/run/dhclient.IFACE.pid,
// /var/lib/dhcp/dhclient.IFACE.leases): a file directly in one of these, by a plain name.
inline constexpr std::string_view DHCLIENT_FILE_FOLDERS[] = {"/run", "/var/lib/dhcp"};
bool InDhclientFolder(std::string_view path);

// Reads a dhclient command line (argv[0] included). Nothing when it is not an IPv4 client that
// holds leases: an IPv6 client (-6), a release or stop (-r, -x), a test run (-T, -P, -S ...), or
// a line that is not dhclient's at all.
std::optional<DhclientProcess> ParseDhclientCommandLine(const std::vector<std::string>& argv);
bool Covers(const DhclientProcess& process, std::string_view interface);

// What is known about this PC when planning. Every interface named here is in the caller's own
// network namespace, and so is every client process.
struct SystemFacts {
    // Wired interfaces (Ethernet type, not wireless, not loopback), sorted.
    std::vector<std::string> wiredInterfaces;
    // Every interface but loopback (wireless ones too), sorted: what a dhclient started without
    // naming one serves.
    std::vector<std::string> allInterfaces;
    bool networkManagerRunning = false;
    std::vector<NmDevice> nmDevices;
    // Devices for which NetworkManager holds DHCPv4 lease data.
    std::set<std::string> nmDhcpLeases;
    std::vector<DhclientProcess> dhclients;
    // Interfaces named by a dhclient whose network namespace could not be checked (it belongs to
    // another user: only root may act on it).
    std::set<std::string> dhclientOfOtherUser;
    bool networkdRunning = false;
    // Interfaces for which systemd-networkd holds a DHCPv4 lease.
    std::set<std::string> networkdLeases;
    bool isRoot = false;
};

// One client holding a lease on one interface.
struct LeaseHolder {
    Client client = Client::NetworkManager;
    std::string interface;
    std::string connectionUuid;  // NetworkManager
    DhclientProcess dhclient;    // dhclient
};

// Every lease holder among the wired interfaces (only `adapter` when it is not empty), in
// interface order. An interface NetworkManager manages is never taken for dhclient's.
std::vector<LeaseHolder> FindLeaseHolders(const SystemFacts& facts, std::string_view adapter = {});

// What /release gave up, so that /renew brings back exactly that (and never connects a device
// that was disconnected before).
struct Released {
    Client client = Client::NetworkManager;
    std::string interface;
    std::string connectionUuid;                  // NetworkManager: the connection to bring up again
    std::vector<std::string> dhclientArguments;  // dhclient: the kept arguments and interfaces
    bool operator==(const Released&) const = default;
};
// One entry a line, fields separated by tabs: "nm IFACE UUID", "dhclient IFACE ARGS...",
// "networkd IFACE". Lines that do not read are skipped; fields holding tabs or newlines are not
// written (their entry is left out).
std::string FormatReleased(const std::vector<Released>& entries);
std::vector<Released> ParseReleased(std::string_view text);

struct Step {
    // argv (the program from the system's folders); empty: only stop `stopsProcess` (a dhclient
    // that serves other interfaces too is stopped without releasing their leases).
    std::vector<std::string> command;
    Client client = Client::NetworkManager;
    std::string interface;
    // A dhclient process that must have ended once the command has run (it is stopped otherwise).
    int64_t stopsProcess = 0;
    // The command leaves a client running that gets the lease in the background (dhclient):
    // it is waited for, but not ended, when the time runs out.
    bool startsClient = false;
    // The command only asks the client (systemd-networkd) to fetch a lease: the step is over once
    // the client has written a new one.
    bool awaitsLease = false;
    // The entry of what was released that this step gives up (release: Plan::released) or brings
    // back (renew: the record it was given); -1 for none.
    int record = -1;
};

struct Problem {
    std::string interface;  // empty: not about one interface
    std::string reason;
};

struct Plan {
    std::vector<Step> steps;
    std::vector<Problem> problems;
    // Release: what the steps give up (recorded before they run; an entry whose steps failed is
    // dropped again).
    std::vector<Released> released;
    // Renew: the entries of the record that no step can bring back now (a problem says why); they
    // stay recorded, as does every entry whose step fails.
    std::vector<size_t> stillReleased;
};

// /release: NetworkManager disconnects the device, dhclient releases (-r), networkd takes the
// link down. A dhclient that also serves interfaces not asked for is never released whole: it is
// stopped, the asked interface released by a run of its own (its own files,
// /run/dhclient.IFACE.pid and /var/lib/dhcp/dhclient.IFACE.leases, are what is recorded), and a
// dhclient started again for the others with the process's own files (renew does the same, and
// starts the asked interface's own client).
Plan PlanRelease(const SystemFacts& facts, std::string_view adapter = {});
// /renew: first what /release gave up comes back (`released`; a NetworkManager device through
// its connection, a dhclient with its own arguments, a networkd link up again), then every lease
// still held is renewed (NetworkManager: device connect; dhclient: release, then start again;
// networkd: reconfigure).
Plan PlanRenew(const SystemFacts& facts, const std::vector<Released>& released, std::string_view adapter = {});

// Reads a command's error output for the reason a user should see: its last non-empty line,
// cut to a sane length. "no rights" when the text says the caller is not allowed.
std::string ReasonFromErrorOutput(std::string_view errorOutput);
bool SaysNotAuthorized(std::string_view errorOutput);

}  // namespace kbr::renewal
