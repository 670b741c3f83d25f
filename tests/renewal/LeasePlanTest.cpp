// Which leases are released and renewed, and how: the plans over made-up facts, and the texts the
// plans are made from (nmcli's device list, dhclient command lines, the release record).

#include "iphelpers/renewal/LeasePlan.h"
#include "platform/ProcessFacts.h"

#include <gtest/gtest.h>

namespace kbr::renewal {
namespace {

using Commands = std::vector<std::vector<std::string>>;

Commands CommandsOf(const Plan& plan) {
    Commands commands;
    for (const Step& step : plan.steps) commands.push_back(step.command);
    return commands;
}

TEST(LeasePlanParsing, NmcliDeviceStatus) {
    const auto devices = ParseNmcliDevices(
        "enp3s0:ethernet:connected:6d0a3c5e-1111-4222-8333-944455556666\n"
        "wlp2s0:wifi:disconnected:\r\n"
        "odd\\:name:ethernet:connecting (getting IP configuration)\n"
        "veth-s:ethernet:connected (externally):30a19e9c\n"
        "\n"
        "broken-line\n"
        "too:many:fields:here:now\n"
        ":ethernet:connected:x\n"
        "enx00:ethernet:unavailable:");
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0].connectionUuid, "6d0a3c5e-1111-4222-8333-944455556666");
    EXPECT_EQ(devices[1].state, "disconnected");
    EXPECT_EQ(devices[1].connectionUuid, "");
    EXPECT_EQ(devices[2].name, "odd:name");
    EXPECT_EQ(devices[2].connectionUuid, "");  // three fields only
    EXPECT_EQ(devices[3].state, "connected (externally)");
    EXPECT_EQ(devices[4].state, "unavailable");
}

TEST(LeasePlanParsing, DhclientCommandLines) {
    using V = std::vector<std::string>;
    EXPECT_EQ(platform::SplitCommandLine(std::string("dhclient\0-4\0eth0\0", 17)), (V{"dhclient", "-4", "eth0"}));
    EXPECT_EQ(platform::SplitCommandLine("dhclient"), (V{"dhclient"}));
    EXPECT_TRUE(platform::SplitCommandLine("").empty());

    // ifupdown's form: its files are kept, its flags are not.
    const auto ifupdown = ParseDhclientCommandLine({"/sbin/dhclient", "-4", "-v", "-i", "-pf", "/run/dhclient.eth0.pid",
                                                    "-lf", "/var/lib/dhcp/dhclient.eth0.leases", "-I", "-df",
                                                    "/var/lib/dhcp/dhclient6.eth0.leases", "eth0"});
    ASSERT_TRUE(ifupdown);
    EXPECT_EQ(ifupdown->interfaces, (V{"eth0"}));
    EXPECT_EQ(ifupdown->keptArguments,
              (V{"-pf", "/run/dhclient.eth0.pid", "-lf", "/var/lib/dhcp/dhclient.eth0.leases"}));

    const auto several =
        ParseDhclientCommandLine({"dhclient", "-cf", "/x.conf", "-sf", "/s", "-e", "A=1", "eth0", "eth1", "-nw"});
    ASSERT_TRUE(several);
    EXPECT_EQ(several->interfaces, (V{"eth0", "eth1"}));
    EXPECT_EQ(several->keptArguments, V{}) << "a script, a configuration or a variable is never kept";
    EXPECT_TRUE(Covers(*several, "eth1"));
    EXPECT_FALSE(Covers(*several, "eth2"));

    const auto everything = ParseDhclientCommandLine({"dhclient"});
    ASSERT_TRUE(everything);
    EXPECT_TRUE(Covers(*everything, "anything"));

    for (const V& notAHolder : {V{}, V{"dhcpcd", "eth0"}, V{"/usr/sbin/dhclient-script"}, V{"dhclient", "-6", "eth0"},
                                V{"dhclient", "-r", "eth0"}, V{"dhclient", "-x"}, V{"dhclient", "-pf"}}) {
        EXPECT_FALSE(ParseDhclientCommandLine(notAHolder)) << (notAHolder.empty() ? "" : notAHolder.back());
    }
}

// Whoever started a process named dhclient chose its command line: only pid and lease files
// directly in root's folders are given again to the commands root runs.
SystemFacts With(SystemFacts facts, void (*change)(SystemFacts&));

struct KeptCase {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::string> kept;
};

void PrintTo(const KeptCase& c, std::ostream* os) { *os << c.name; }

class DhclientKeptArguments : public ::testing::TestWithParam<KeptCase> {};

TEST_P(DhclientKeptArguments, OnlyFilesInRootsFoldersReachACommandOrTheRecord) {
    std::vector<std::string> argv = {"dhclient"};
    argv.insert(argv.end(), GetParam().options.begin(), GetParam().options.end());
    argv.emplace_back("eth0");
    const auto process = ParseDhclientCommandLine(argv);
    ASSERT_TRUE(process);
    EXPECT_EQ(process->keptArguments, GetParam().kept);

    // Through a release and its record, and a renewal from that record.
    SystemFacts facts;
    facts.wiredInterfaces = {"eth0"};
    facts.isRoot = true;
    facts.dhclients = {*process};
    facts.dhclients[0].pid = 7;
    std::vector<std::string> expected = GetParam().kept;
    expected.emplace_back("eth0");
    const Plan release = PlanRelease(facts);
    ASSERT_EQ(release.steps.size(), 1u);
    EXPECT_EQ(std::vector<std::string>(release.steps[0].command.begin() + 2, release.steps[0].command.end()), expected);
    const auto record = ParseReleased(FormatReleased(release.released));
    ASSERT_EQ(record.size(), 1u);
    EXPECT_EQ(record[0].dhclientArguments, expected);
    for (const Plan& plan :
         {PlanRenew(facts, {}), PlanRenew(With(facts, [](SystemFacts& f) { f.dhclients.clear(); }), record)}) {
        for (const Step& step : plan.steps) {
            EXPECT_EQ(std::vector<std::string>(step.command.end() - static_cast<long>(expected.size()),
                                               step.command.end()),
                      expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, DhclientKeptArguments,
    ::testing::Values(KeptCase{"Ifupdown",
                               {"-pf", "/run/dhclient.eth0.pid", "-lf", "/var/lib/dhcp/dhclient.eth0.leases"},
                               {"-pf", "/run/dhclient.eth0.pid", "-lf", "/var/lib/dhcp/dhclient.eth0.leases"}},
                      KeptCase{"Script", {"-sf", "/home/u/evil.sh"}, {}},
                      KeptCase{"ScriptInRootsFolder", {"-sf", "/run/evil.sh"}, {}},
                      KeptCase{"Configuration", {"-cf", "/tmp/dhclient.conf"}, {}},
                      KeptCase{"Variable", {"-e", "PATH=/tmp"}, {}}, KeptCase{"LeaseFileInTmp", {"-lf", "/tmp/x"}, {}},
                      KeptCase{"PidFileInHome", {"-pf", "/home/u/d.pid"}, {}},
                      KeptCase{"DotDotOutOfRun", {"-lf", "/run/../etc/x"}, {}},
                      KeptCase{"UsersRunFolder", {"-pf", "/run/user/1000/x"}, {}},
                      KeptCase{"SubfolderOfDhcp", {"-lf", "/var/lib/dhcp/sub/x"}, {}},
                      KeptCase{"FolderItself", {"-pf", "/run/", "-lf", "/var/lib/dhcp/.."}, {}},
                      KeptCase{"LookAlikeFolder", {"-pf", "/runaway/x", "-lf", "/var/lib/dhcpx/y"}, {}},
                      KeptCase{"MixedKeepsTheSafeOnes",
                               {"-sf", "/tmp/e.sh", "-pf", "/run/d.pid", "-cf", "/tmp/c", "-lf", "/tmp/l", "-e", "A=1"},
                               {"-pf", "/run/d.pid"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LeasePlanParsing, ARecordOfAnOlderVersionLosesItsScript) {
    const auto record = ParseReleased(
        "dhclient\teth0\t-sf\t/tmp/evil.sh\t-cf\t/tmp/c\t-pf\t/run/d.pid\t-lf\t/tmp/x\teth0\n"
        "dhclient\teth1\t-e\tA=1\teth1\n");
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[0].dhclientArguments, (std::vector<std::string>{"-pf", "/run/d.pid", "eth0"}));
    EXPECT_EQ(record[1].dhclientArguments, (std::vector<std::string>{"eth1"}));
}

TEST(LeasePlanParsing, ReleaseRecordRoundTripAndDamage) {
    const std::vector<Released> entries = {
        {Client::NetworkManager, "enp3s0", "6d0a3c5e-1111-4222-8333-944455556666", {}},
        {Client::Dhclient, "eth1", "", {"-pf", "/run/d.pid", "-lf", "/var/lib/dhcp/l", "eth1"}},
        {Client::Networkd, "eth2", "", {}},
    };
    EXPECT_EQ(ParseReleased(FormatReleased(entries)), entries);

    // A field that would break the lines is not written; damaged lines are skipped.
    EXPECT_EQ(FormatReleased({{Client::Networkd, "bad\tname", "", {}}}), "");
    EXPECT_EQ(FormatReleased({{Client::NetworkManager, "", "uuid", {}}}), "");
    const auto damaged = ParseReleased(
        "nm\teth0\n"               // no connection
        "nm\teth0\tu\textra\n"     // one field too many
        "dhclient\teth1\t-r\n"     // would run a different command
        "dhclient\teth1\t\t-pf\n"  // an empty argument
        "unknown\teth3\n"
        "networkd\t\n"
        "networkd\teth2\n");
    ASSERT_EQ(damaged.size(), 1u);
    EXPECT_EQ(damaged[0].interface, "eth2");
}

TEST(LeasePlanParsing, MissingRightsInTheHelpersUntranslatedWords) {
    // What nmcli, networkctl and dhclient say under LC_ALL=C when the caller may not act.
    struct Row {
        const char* text;
        bool notAuthorized;
    };
    const std::vector<Row> rows = {
        {"Error: Failed to disconnect 'eth0': Not authorized to control networking.", true},
        {"Error: Connection activation failed: Not authorized to control networking.", true},
        {"Error: not authorized to control networking.", true},
        {"Failed to reconfigure network interface veth-p: Access denied", true},
        {"Failed to bring down interfaces: Interactive authentication required.", true},
        {"Open: Permission denied", true},
        {"Error: Device 'eth9' not found.", false},
        {"Error: NetworkManager is not running.", false},
        {"", false},
    };
    for (const Row& row : rows) EXPECT_EQ(SaysNotAuthorized(row.text), row.notAuthorized) << row.text;
}

TEST(LeasePlanParsing, ReasonsFromErrorOutput) {
    EXPECT_EQ(ReasonFromErrorOutput("Error: Failed to disconnect 'eth0': Not authorized to control networking.\n\n"),
              "no rights: Error: Failed to disconnect 'eth0': Not authorized to control networking.");
    EXPECT_EQ(ReasonFromErrorOutput("warming up\n  Error: device 'x' not found.  \n"), "Error: device 'x' not found.");
    EXPECT_EQ(ReasonFromErrorOutput("Interactive authentication required."),
              "no rights: Interactive authentication required.");
    EXPECT_EQ(ReasonFromErrorOutput(""), "");
    EXPECT_EQ(ReasonFromErrorOutput("bell\a and \x1b[31mcolour").find('\x1b'), std::string::npos);
    EXPECT_LE(ReasonFromErrorOutput(std::string(5000, 'x')).size(), 200u);
}

// ---------------------------------------------------------------------------------------------
// Plans.

SystemFacts Desktop() {
    SystemFacts facts;
    facts.wiredInterfaces = {"enp3s0", "enp4s0", "enp5s0", "enp6s0", "enp7s0"};
    facts.networkManagerRunning = true;
    facts.nmDevices = {{"enp3s0", "ethernet", "connected", "uuid-dhcp"},
                       {"enp4s0", "ethernet", "disconnected", ""},
                       {"enp5s0", "ethernet", "connected (externally)", "uuid-ext"},
                       {"enp6s0", "ethernet", "connected", "uuid-static"},
                       {"enp7s0", "ethernet", "unmanaged", ""},
                       {"wlp2s0", "wifi", "connected", "uuid-wifi"}};
    facts.nmDhcpLeases = {"enp3s0", "wlp2s0"};
    facts.isRoot = true;
    return facts;
}

const DhclientProcess SHARED = {
    5, {"eth0", "eth1"}, {"-pf", "/run/dhclient.pid", "-lf", "/var/lib/dhcp/dhclient.leases"}};

SystemFacts Ifupdown() {
    SystemFacts facts;
    facts.wiredInterfaces = {"eth0", "eth1", "eth2"};
    facts.dhclients = {{41, {"eth0"}, {"-pf", "/run/dhclient.eth0.pid", "-lf", "/var/lib/dhcp/dhclient.eth0.leases"}}};
    facts.isRoot = true;
    return facts;
}

struct PlanCase {
    const char* name;
    bool release;
    SystemFacts facts;
    std::vector<Released> record;
    std::string adapter;
    Commands commands;
    std::vector<std::string> problemInterfaces;
};

void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

class LeasePlans : public ::testing::TestWithParam<PlanCase> {};

TEST_P(LeasePlans, TouchOnlyWhatHoldsALease) {
    const PlanCase& c = GetParam();
    const Plan plan = c.release ? PlanRelease(c.facts, c.adapter) : PlanRenew(c.facts, c.record, c.adapter);
    EXPECT_EQ(CommandsOf(plan), c.commands);
    std::vector<std::string> problems;
    for (const Problem& problem : plan.problems) problems.push_back(problem.interface);
    EXPECT_EQ(problems, c.problemInterfaces);
}

SystemFacts With(SystemFacts facts, void (*change)(SystemFacts&)) {
    change(facts);
    return facts;
}

const std::vector<std::string> DHCLIENT_ETH0 = {"-pf", "/run/dhclient.eth0.pid", "-lf",
                                                "/var/lib/dhcp/dhclient.eth0.leases", "eth0"};

// A dhclient command for eth0 of Ifupdown(): `head` followed by the client's own arguments.
std::vector<std::string> Dh(std::vector<std::string> head) {
    head.insert(head.end(), DHCLIENT_ETH0.begin(), DHCLIENT_ETH0.end());
    return head;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeasePlans,
    ::testing::Values(
        // NetworkManager: only the wired device with a DHCP lease; not the disconnected one, the
        // externally configured one, the static profile, the unmanaged one or the Wi-Fi.
        PlanCase{"NmRelease", true, Desktop(), {}, "", {{"nmcli", "device", "disconnect", "enp3s0"}}, {}},
        PlanCase{"NmRenewWithoutRecord", false, Desktop(), {}, "", {{"nmcli", "device", "connect", "enp3s0"}}, {}},
        // After the release: the connection comes back by its own profile.
        PlanCase{"NmRenewAfterRelease",
                 false,
                 With(Desktop(), [](SystemFacts& f) { f.nmDevices[0].state = "disconnected"; }),
                 {{Client::NetworkManager, "enp3s0", "uuid-dhcp", {}}},
                 "",
                 {{"nmcli", "connection", "up", "uuid-dhcp", "ifname", "enp3s0"}},
                 {}},
        // Reconnected meanwhile (by the user, or NetworkManager itself): renewed, not brought up twice.
        PlanCase{"NmRecordedButConnectedAgain",
                 false,
                 Desktop(),
                 {{Client::NetworkManager, "enp3s0", "uuid-dhcp", {}}},
                 "",
                 {{"nmcli", "device", "connect", "enp3s0"}},
                 {}},
        PlanCase{"NmRecordWithoutConnection",
                 false,
                 With(Desktop(), [](SystemFacts& f) { f.nmDevices[0].state = "disconnected"; }),
                 {{Client::NetworkManager, "enp3s0", "", {}}},
                 "",
                 {{"nmcli", "device", "connect", "enp3s0"}},
                 {}},
        // A device that was disconnected before is never connected.
        PlanCase{"NmDisconnectedStaysSo",
                 false,
                 With(Desktop(), [](SystemFacts& f) { f.nmDevices[0].state = "disconnected"; }),
                 {},
                 "",
                 {},
                 {""}},
        PlanCase{"NmOneAdapter", true, Desktop(), {}, "enp4s0", {}, {}},
        PlanCase{"NmUnknownAdapter", false, Desktop(), {}, "eth9", {}, {"eth9"}},
        // dhclient on an unmanaged interface is that interface's client; on a managed one it is not.
        PlanCase{"DhclientBesideNm",
                 false,
                 With(Desktop(),
                      [](SystemFacts& f) {
                          f.dhclients = {{7, {"enp7s0"}, {}}, {8, {"enp3s0"}, {}}};
                      }),
                 {},
                 "",
                 {{"nmcli", "device", "connect", "enp3s0"}, {"dhclient", "-r", "enp7s0"}, {"dhclient", "enp7s0"}},
                 {}},
        PlanCase{"DhclientRecordForManagedDevice",
                 false,
                 Desktop(),
                 {{Client::Dhclient, "enp4s0", "", {"enp4s0"}}},
                 "",
                 {{"nmcli", "device", "connect", "enp3s0"}},
                 {}},
        // dhclient: its own files; static eth1 and client-less eth2 untouched.
        PlanCase{"DhclientRelease", true, Ifupdown(), {}, "", {Dh({"dhclient", "-r"})}, {}},
        PlanCase{"DhclientRenewRunning", false, Ifupdown(), {}, "", {Dh({"dhclient", "-r"}), Dh({"dhclient"})}, {}},
        PlanCase{"DhclientRenewAfterRelease",
                 false,
                 With(Ifupdown(), [](SystemFacts& f) { f.dhclients.clear(); }),
                 {{Client::Dhclient, "eth0", "", DHCLIENT_ETH0}},
                 "",
                 {Dh({"dhclient"})},
                 {}},
        PlanCase{"DhclientAfterReleaseNeedsRoot",
                 false,
                 With(Ifupdown(),
                      [](SystemFacts& f) {
                          f.dhclients.clear();
                          f.isRoot = false;
                      }),
                 {{Client::Dhclient, "eth0", "", DHCLIENT_ETH0}},
                 "",
                 {},
                 {"eth0"}},
        PlanCase{"DhclientRunningIsNeverRunByAUser",
                 true,
                 With(Ifupdown(), [](SystemFacts& f) { f.isRoot = false; }),
                 {},
                 "",
                 {},
                 {"eth0"}},
        PlanCase{"DhclientRenewIsNeverRunByAUser",
                 false,
                 With(Ifupdown(), [](SystemFacts& f) { f.isRoot = false; }),
                 {},
                 "",
                 {},
                 {"eth0"}},
        PlanCase{"DhclientOfRootSeenByUser",
                 false,
                 With(Ifupdown(),
                      [](SystemFacts& f) {
                          f.dhclients.clear();
                          f.isRoot = false;
                          f.dhclientOfOtherUser = {"eth0"};
                      }),
                 {},
                 "",
                 {},
                 {"eth0"}},
        // One dhclient for two interfaces (eth0 eth1): renewing eth0 alone leaves eth1 served. The
        // shared process is stopped (no command: SIGTERM, which releases nothing), eth0 released
        // and started with files of its own, and eth1 given a dhclient again with the shared files.
        PlanCase{"SharedDhclientReleaseOfOne",
                 true,
                 With(Ifupdown(), [](SystemFacts& f) { f.dhclients = {SHARED}; }),
                 {},
                 "eth0",
                 {{},
                  {"dhclient", "-r", "-pf", "/run/dhclient.eth0.pid", "-lf", "/var/lib/dhcp/dhclient.leases", "eth0"},
                  {"dhclient", "-pf", "/run/dhclient.pid", "-lf", "/var/lib/dhcp/dhclient.leases", "eth1"}},
                 {}},
        PlanCase{"SharedDhclientRenewOfOne",
                 false,
                 With(Ifupdown(), [](SystemFacts& f) { f.dhclients = {SHARED}; }),
                 {},
                 "eth0",
                 {{},
                  {"dhclient", "-r", "-pf", "/run/dhclient.eth0.pid", "-lf", "/var/lib/dhcp/dhclient.leases", "eth0"},
                  Dh({"dhclient"}),
                  {"dhclient", "-pf", "/run/dhclient.pid", "-lf", "/var/lib/dhcp/dhclient.leases", "eth1"}},
                 {}},
        // Named by nobody: it serves every interface, the wireless one too. A release of the wired
        // ones stops it once and starts it again for the wireless one only.
        PlanCase{"DhclientForAllReleaseOfTheWired",
                 true,
                 With(Ifupdown(),
                      [](SystemFacts& f) {
                          f.wiredInterfaces = {"eth0", "eth1"};
                          f.allInterfaces = {"eth0", "eth1", "wlan0"};
                          f.dhclients = {{9, {}, {}}};
                      }),
                 {},
                 "",
                 {{},
                  {"dhclient", "-r", "-pf", "/run/dhclient.eth0.pid", "eth0"},
                  {"dhclient", "-r", "-pf", "/run/dhclient.eth1.pid", "eth1"},
                  {"dhclient", "wlan0"}},
                 {}},
        PlanCase{"SharedDhclientBroughtBackWithItsOwnFiles",
                 false,
                 With(Ifupdown(),
                      [](SystemFacts& f) {
                          f.dhclients = {{5, {"eth1"}, {}}};
                      }),
                 {{Client::Dhclient, "eth0", "", DHCLIENT_ETH0}},
                 "eth0",
                 {Dh({"dhclient"})},
                 {}},
        PlanCase{"NothingHoldsALease",
                 false,
                 With(Ifupdown(), [](SystemFacts& f) { f.dhclients.clear(); }),
                 {},
                 "",
                 {},
                 {""}},
        PlanCase{"NothingToReleaseIsNoProblem",
                 true,
                 With(Ifupdown(), [](SystemFacts& f) { f.dhclients.clear(); }),
                 {},
                 "",
                 {},
                 {}},
        PlanCase{"NoWiredAdapter", false, SystemFacts{}, {}, "", {}, {""}},
        // systemd-networkd: down for the release, up again, reconfigure for a lease still held.
        PlanCase{"NetworkdRelease",
                 true,
                 With(SystemFacts{},
                      [](SystemFacts& f) {
                          f.wiredInterfaces = {"en0", "en1"};
                          f.networkdRunning = true;
                          f.networkdLeases = {"en0"};
                      }),
                 {},
                 "",
                 {{"networkctl", "down", "en0"}},
                 {}},
        PlanCase{"NetworkdRenew",
                 false,
                 With(SystemFacts{},
                      [](SystemFacts& f) {
                          f.wiredInterfaces = {"en0", "en1"};
                          f.networkdRunning = true;
                          f.networkdLeases = {"en1"};
                      }),
                 {{Client::Networkd, "en0", "", {}}},
                 "",
                 {{"networkctl", "up", "en0"}, {"networkctl", "reconfigure", "en1"}},
                 {}},
        PlanCase{"NetworkdLeaseButNotRunning",
                 false,
                 With(SystemFacts{},
                      [](SystemFacts& f) {
                          f.wiredInterfaces = {"en0"};
                          f.networkdLeases = {"en0"};
                      }),
                 {},
                 "",
                 {},
                 {""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LeasePlans, DhclientIsReleasedAndRestartedWithItsOwnFiles) {
    const Plan release = PlanRelease(Ifupdown());
    ASSERT_EQ(release.steps.size(), 1u);
    std::vector<std::string> expected = {"dhclient", "-r"};
    expected.insert(expected.end(), DHCLIENT_ETH0.begin(), DHCLIENT_ETH0.end());
    EXPECT_EQ(release.steps[0].command, expected);
    EXPECT_EQ(release.steps[0].stopsProcess, 41);
    ASSERT_EQ(release.released.size(), 1u);
    EXPECT_EQ(release.released[0].dhclientArguments, DHCLIENT_ETH0);

    const Plan renew = PlanRenew(Ifupdown(), {});
    ASSERT_EQ(renew.steps.size(), 2u);
    EXPECT_EQ(renew.steps[0].command, expected);
    EXPECT_EQ(renew.steps[0].stopsProcess, 41);
    std::vector<std::string> restart = {"dhclient"};
    restart.insert(restart.end(), DHCLIENT_ETH0.begin(), DHCLIENT_ETH0.end());
    EXPECT_EQ(renew.steps[1].command, restart);
    EXPECT_TRUE(renew.steps[1].startsClient);

    SystemFacts released = Ifupdown();
    released.dhclients.clear();
    const Plan back = PlanRenew(released, release.released);
    ASSERT_EQ(back.steps.size(), 1u);
    EXPECT_EQ(back.steps[0].command, restart);
}

TEST(LeasePlans, OneDhclientForSeveralInterfacesIsHandledOnce) {
    SystemFacts facts = Ifupdown();
    facts.dhclients = {{5, {"eth0", "eth1"}, {}}};
    EXPECT_EQ(CommandsOf(PlanRelease(facts)), (Commands{{"dhclient", "-r", "eth0", "eth1"}}));
    EXPECT_EQ(CommandsOf(PlanRenew(facts, {})),
              (Commands{{"dhclient", "-r", "eth0", "eth1"}, {"dhclient", "eth0", "eth1"}}));
}

TEST(LeasePlans, ASharedDhclientIsStoppedOnceAndItsOthersStartedOnce) {
    SystemFacts facts = Ifupdown();
    facts.dhclients = {{5, {"eth0", "eth1", "eth2"}, {}}};
    facts.wiredInterfaces = {"eth0", "eth1", "eth2"};
    // Two of its three interfaces asked for (by name, one after the other, a release of each).
    const Plan release = PlanRelease(facts, "eth1");
    ASSERT_EQ(release.steps.size(), 3u);
    EXPECT_TRUE(release.steps[0].command.empty());
    EXPECT_EQ(release.steps[0].stopsProcess, 5);
    EXPECT_EQ(release.steps[1].record, 0) << "the release step is what the record entry stands for";
    EXPECT_EQ(release.steps[2].command, (std::vector<std::string>{"dhclient", "eth0", "eth2"}));
    EXPECT_TRUE(release.steps[2].startsClient);
    EXPECT_EQ(release.steps[2].record, -1);
    ASSERT_EQ(release.released.size(), 1u);
    EXPECT_EQ(release.released[0].dhclientArguments,
              (std::vector<std::string>{"-pf", "/run/dhclient.eth1.pid", "-lf", "/var/lib/dhcp/dhclient.eth1.leases",
                                        "eth1"}));
    for (const Step& step : release.steps) {
        EXPECT_EQ(std::count(step.command.begin(), step.command.end(), "-r") != 0 &&
                      std::count(step.command.begin(), step.command.end(), "eth0") != 0,
                  false)
            << "eth0's lease is never released";
    }
}

TEST(LeasePlans, WhatCannotComeBackStaysRecorded) {
    SystemFacts facts = Ifupdown();
    facts.dhclients.clear();
    facts.isRoot = false;
    const std::vector<Released> record = {{Client::Dhclient, "eth0", "", DHCLIENT_ETH0},
                                          {Client::Networkd, "eth1", "", {}}};
    // eth0 needs root; eth1 was not asked for.
    EXPECT_EQ(PlanRenew(facts, record, "eth0").stillReleased, (std::vector<size_t>{0, 1}));
    // As root eth0 comes back through a step that stands for its entry.
    facts.isRoot = true;
    const Plan back = PlanRenew(facts, record, "eth0");
    EXPECT_EQ(back.stillReleased, (std::vector<size_t>{1}));
    ASSERT_EQ(back.steps.size(), 1u);
    EXPECT_EQ(back.steps[0].record, 0);
}

}  // namespace
}  // namespace kbr::renewal
