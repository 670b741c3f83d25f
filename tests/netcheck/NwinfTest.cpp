// The IP helper: its choices over made-up interfaces, its files, and the program itself, run in
// ways that never renew this machine's address (--no-renew, NWINF_NO_RENEW=1, or a stand-in
// renewal program), on every system it is built for. On Linux also in private network namespaces
// of interfaces made for the test.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/Network.h"
#include "platform/Platform.h"
#include "platform/ProblemLog.h"
#include "iphelpers/nwinf/NetInfo.h"
#include "testkit/ScratchFolder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using kbr::nwinf::InterfaceFacts;
using kbr::nwinf::NameRules;

InterfaceFacts Nic(std::string name, std::vector<std::string> ipv4, bool up = true, bool loopback = false) {
    InterfaceFacts facts;
    facts.name = std::move(name);
    facts.up = up;
    facts.running = up;
    facts.loopback = loopback;
    facts.ipv4 = std::move(ipv4);
    return facts;
}

TEST(NwinfPrimaryAddress, Table) {
    const InterfaceFacts lo = Nic("lo", {"127.0.0.1"}, true, true);
    struct Case {
        const char* name;
        std::vector<InterfaceFacts> interfaces;
        std::string defaultRoute;
        std::string address;
        std::string interface;
    };
    const Case cases[] = {
        {"only loopback", {lo}, "", "0.0.0.0", ""},
        {"no interfaces", {}, "", "0.0.0.0", ""},
        {"one wired", {lo, Nic("eth0", {"192.168.1.33"})}, "eth0", "192.168.1.33", "eth0"},
        {"default route wins",
         {lo, Nic("eth0", {"10.0.0.7"}), Nic("wlan0", {"192.168.1.5"})},
         "wlan0",
         "192.168.1.5",
         "wlan0"},
        {"down interface ignored",
         {Nic("eth0", {"10.0.0.7"}, false), Nic("eth1", {"10.0.0.8"})},
         "",
         "10.0.0.8",
         "eth1"},
        {"no IPv4 ignored", {Nic("eth0", {}), Nic("eth1", {"10.0.0.8"})}, "", "10.0.0.8", "eth1"},
        {"routable before link-local",
         {Nic("eth0", {"169.254.3.4"}), Nic("eth1", {"10.0.0.8"})},
         "",
         "10.0.0.8",
         "eth1"},
        {"only link-local is reported", {lo, Nic("eth0", {"169.254.10.2"})}, "", "169.254.10.2", "eth0"},
        {"routable address of the interface first",
         {Nic("eth0", {"169.254.10.2", "192.168.0.100"})},
         "eth0",
         "192.168.0.100",
         "eth0"},
        {"stale default route name", {Nic("eth1", {"10.0.0.8"})}, "eth0", "10.0.0.8", "eth1"},
        {"connection names with blanks",
         {Nic("Wi-Fi", {"10.0.0.9"}), Nic("Ethernet 2", {"192.168.1.7"})},
         "Ethernet 2",
         "192.168.1.7",
         "Ethernet 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kbr::nwinf::PrimaryIPv4(c.interfaces, c.defaultRoute), c.address);
        EXPECT_EQ(kbr::nwinf::PrimaryInterface(c.interfaces, c.defaultRoute), c.interface);
    }
}

TEST(NwinfAdaptorInterface, TheOneHoldingTheAdaptorsAddress) {
    const std::vector<InterfaceFacts> interfaces = {
        Nic("lo", {"127.0.0.1"}, true, true),
        Nic("wlan0", {"192.168.1.5"}),
        Nic("eth9", {"192.168.0.150"}, false),  // down
        Nic("eth0", {"169.254.3.4", "192.168.0.117"}),
    };
    EXPECT_EQ(kbr::nwinf::AdaptorInterface(interfaces), "eth0");
    EXPECT_EQ(kbr::nwinf::AdaptorInterface(interfaces, "eth9"), "eth0") << "the route leaves from a down one";
    EXPECT_EQ(kbr::nwinf::AddressOf(interfaces, "eth0"), "192.168.0.117");
    EXPECT_EQ(kbr::nwinf::AddressOf(interfaces, "eth9"), "0.0.0.0");
    EXPECT_EQ(kbr::nwinf::AddressOf(interfaces, "missing"), "0.0.0.0");
    EXPECT_EQ(kbr::nwinf::AdaptorInterface({Nic("wlan0", {"192.168.1.5"})}), "");
    // The home network on 192.168.0.x as well: the one the route to the adaptor leaves from wins.
    const std::vector<InterfaceFacts> both = {Nic("wlan0", {"192.168.0.7"}), Nic("eth0", {"192.168.0.117"})};
    EXPECT_EQ(kbr::nwinf::AdaptorInterface(both, "eth0"), "eth0");
    EXPECT_EQ(kbr::nwinf::AdaptorInterface(both, ""), "wlan0");
    // The route to the adaptor over an interface not on its network (a VPN, say) decides nothing.
    EXPECT_EQ(kbr::nwinf::AdaptorInterface(both, "tun0"), "wlan0");
    const std::vector<InterfaceFacts> windows = {Nic("Wi-Fi", {"192.168.0.7"}), Nic("Ethernet 2", {"192.168.0.9"})};
    EXPECT_EQ(kbr::nwinf::AdaptorInterface(windows, "Ethernet 2"), "Ethernet 2");
}

TEST(NwinfFiles, RenewalOutcomeAndRecordedInterface) {
    using kbr::nwinf::RenewalStatus;
    using State = RenewalStatus::State;
    EXPECT_EQ(kbr::nwinf::FormatIpInfo("10.0.0.7"), "10.0.0.7\nrenewal=none\n");
    EXPECT_EQ(kbr::nwinf::FormatIpInfo("10.0.0.7", {State::Renewed, ""}), "10.0.0.7\nrenewal=ok\n");
    EXPECT_EQ(kbr::nwinf::FormatIpInfo("0.0.0.0", {State::Failed, "no rights:\nx"}), "0.0.0.0\nrenewal=failed\n");
    EXPECT_EQ(kbr::nwinf::RenewalLine({State::Failed, "no rights:\nx"}), "renewal=failed reason=no rights: x");
    EXPECT_EQ(kbr::nwinf::RenewalLine({State::Skipped, ""}), "renewal=skipped");

    const std::string nicinfo =
        kbr::nwinf::FormatNicInfo({Nic("eth0", {"192.168.0.117"})}, "eth0", "eth0", {State::Failed, "why"});
    EXPECT_EQ(nicinfo.rfind("adaptor_interface=eth0\nrenewal=failed reason=why\n", 0), 0u) << nicinfo;
    for (const NameRules rules : {NameRules::Linux, NameRules::Windows}) {
        EXPECT_EQ(kbr::nwinf::RecordedAdaptorInterface(nicinfo, rules), "eth0");
    }
    EXPECT_EQ(kbr::nwinf::RecordedAdaptorInterface(nicinfo), "eth0") << "this system's rules";

    InterfaceFacts facts = Nic("Ethernet 2", {"192.168.0.117"});
    facts.hardwareAddress = "02:00:00:00:00:01";
    facts.mtu = 1500;
    facts.addresses = {"192.168.0.117/24", "fe80::1%12/64"};
    EXPECT_EQ(kbr::nwinf::FormatNicInfo({facts}, "", "Ethernet 2"),
              "adaptor_interface=Ethernet 2\nrenewal=none\n\n"
              "[Ethernet 2]\nhardware=02:00:00:00:00:01\nup=1 running=1 loopback=0 mtu=1500\ndefault_route=0\n"
              "address=192.168.0.117/24\naddress=fe80::1%12/64\n\n");
}

TEST(NwinfFiles, RecordedNamesFollowTheSystemsRules) {
    struct Case {
        std::string line;
        std::string linux;
        std::string windows;
    };
    const std::string longName(255, 'n');
    const Case cases[] = {
        {"", "", ""},
        {"adaptor_interface=\n", "", ""},
        {"xadaptor_interface=eth0\n", "", ""},
        {"adaptor_interface=-r\n", "", ""},
        {"adaptor_interface=../x\n", "", "../x"},
        {"adaptor_interface=/all\n", "", ""},
        {"adaptor_interface=a:b\n", "", "a:b"},
        {"adaptor_interface=averyveryverylongname\n", "", "averyveryverylongname"},
        {"adaptor_interface=averyveryverylo\n", "averyveryverylo", "averyveryverylo"},
        {"adaptor_interface=Ethernet 2\n", "", "Ethernet 2"},
        {"adaptor_interface=Local Area Connection* 1\n", "", ""},
        {"adaptor_interface=eth?\n", "eth?", ""},
        {"adaptor_interface=say\"\n", "say\"", ""},
        {"adaptor_interface=tab\there\n", "", ""},
        {"adaptor_interface=" + longName + "\n", "", longName},
        {"adaptor_interface=" + longName + "n\n", "", ""},
        {"renewal=none\nadaptor_interface=eth1\n", "eth1", "eth1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(kbr::nwinf::RecordedAdaptorInterface(c.line, NameRules::Linux), c.linux);
        EXPECT_EQ(kbr::nwinf::RecordedAdaptorInterface(c.line, NameRules::Windows), c.windows);
    }
}

TEST(NwinfFiles, AFailureIsExplainedByTheLastLineItWrote) {
    using kbr::nwinf::FailureReason;
    EXPECT_EQ(FailureReason("/bin/renew", ""), "/bin/renew failed");
    EXPECT_EQ(FailureReason("/bin/renew", " \r\n\t"), "/bin/renew failed");
    EXPECT_EQ(FailureReason("/bin/renew", "warning\nError: no rights\n\n"), "/bin/renew failed: Error: no rights");
    // ipconfig's way: lines ending in CR LF, the header first.
    EXPECT_EQ(FailureReason("ipconfig.exe",
                            "\r\nWindows IP Configuration\r\n\r\nAn error occurred while renewing interface "
                            "Ethernet : unable to contact your DHCP server. Request has timed out.\r\n"),
              "ipconfig.exe failed: An error occurred while renewing interface Ethernet : unable to contact your "
              "DHCP server. Request has timed out.");
    EXPECT_EQ(FailureReason("x", std::string(500, 'e')), "x failed: " + std::string(200, 'e'));
}

TEST(NwinfArguments, Table) {
    using V = std::vector<std::string>;
    EXPECT_EQ(kbr::nwinf::ParseArguments(V{"1"})->mode, 1);
    EXPECT_TRUE(kbr::nwinf::ParseArguments(V{"2"})->renew);
    const auto quiet = kbr::nwinf::ParseArguments(V{"--no-renew", "--renew-command=/bin/x", "2"});
    ASSERT_TRUE(quiet);
    EXPECT_FALSE(quiet->renew);
    EXPECT_EQ(quiet->renewCommand, "/bin/x");
    for (const V& bad :
         {V{}, V{"3"}, V{"1", "2"}, V{"--no-renew"}, V{"--renew-command=", "1"}, V{"12"}, V{"-x", "1"}}) {
        EXPECT_FALSE(kbr::nwinf::ParseArguments(bad));
    }
}

// ---------------------------------------------------------------------------------------------
// The program. Every run either skips the renewal or replaces it with the stand-in.

// Sets (or with nullptr removes) an environment variable for as long as it lives; the programs
// the test starts inherit it.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedVariable() { Set(old_ ? old_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void Set(const char* value) {
#ifdef _WIN32
        // The process's own block, which a started program inherits, and the C runtime's copy.
        ::SetEnvironmentVariableA(name_.c_str(), value);
        ::_putenv_s(name_.c_str(), value ? value : "");
#else
        value ? ::setenv(name_.c_str(), value, 1) : ::unsetenv(name_.c_str());
#endif
    }
    std::string name_;
    std::optional<std::string> old_;
};

class NwinfProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Made()); }

    // Runs a program with the scratch folder as its current folder.
    kbr::platform::ProgramRun Run(const std::string& program, const std::vector<std::string>& arguments,
                                  bool searchPath = false) {
        const fs::path before = fs::current_path();
        fs::current_path(dir_);
        kbr::platform::ProgramRun run = kbr::platform::RunProgram(program, arguments, 30'000, searchPath);
        fs::current_path(before);
        return run;
    }
    kbr::platform::ProgramRun RunNwinf(const std::vector<std::string>& arguments) { return Run(nwinf_, arguments); }

    std::string Read(const std::string& name) const { return scratch_.Read(name); }
    bool Exists(const std::string& name) const { return fs::exists(fs::path(dir_) / name); }
    void WriteFile(const std::string& name, const std::string& content) const {
        std::ofstream(fs::path(dir_) / name, std::ios::binary) << content;
    }
    size_t FileCount() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    // First line: a dotted IPv4 address, 0.0.0.0 for none.
    static void ExpectWellFormedIpInfo(const std::string& content) {
        const std::string firstLine = content.substr(0, content.find('\n'));
        static const std::regex dotted(R"(^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$)");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(firstLine, match, dotted)) << firstLine;
        for (int i = 1; i <= 4; ++i) EXPECT_LE(std::stoi(match[i].str()), 255);
        ASSERT_FALSE(content.empty());
        EXPECT_EQ(content.back(), '\n');
    }

    // Absolute, with the drive on Windows, so that the paths still hold from the scratch folder.
    const std::string nwinf_ = fs::absolute(NWINF_PROGRAM).string();
    const std::string stub_ = fs::absolute(NWINF_RENEW_STUB).string();
    kbr::testkit::ScratchFolder scratch_{"kbr-nwinf-"};
    const std::string& dir_{scratch_.Path()};
};

TEST_F(NwinfProgram, WithoutRenewalWritesWellFormedFilesOfThisMachine) {
    for (const char* mode : {"1", "2"}) {
        SCOPED_TRACE(mode);
        const auto run = RunNwinf({"--no-renew", "--renew-command=" + stub_, mode});
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        // At start-up nothing is renewed anyway; asked to refresh, it says it skipped.
        EXPECT_EQ(run.errors.find("renewal skipped") != std::string::npos, mode[0] == '2') << run.errors;
        const std::string ipinfo = Read("ipinfo.tmp");
        ExpectWellFormedIpInfo(ipinfo);
        EXPECT_EQ(ipinfo.substr(ipinfo.find('\n') + 1), mode[0] == '2' ? "renewal=skipped\n" : "renewal=none\n");
        EXPECT_FALSE(Exists("renewed")) << "asked not to renew, it renewed";
        // Start-up reports the interface facing the adaptor where there is one.
        const auto interfaces = kbr::platform::ListNetworkInterfaces();
        const std::string route = kbr::platform::RouteInterfaceTowards("192.168.0.20");
        const std::string adaptor = mode[0] == '1' ? kbr::nwinf::AdaptorInterface(interfaces, route) : "";
        EXPECT_EQ(ipinfo.substr(0, ipinfo.find('\n')),
                  adaptor.empty() ? kbr::nwinf::PrimaryIPv4(interfaces, kbr::platform::DefaultRouteInterface())
                                  : kbr::nwinf::AddressOf(interfaces, adaptor));
        const std::string nicinfo = Read("nicinfo.tmp");
        for (const auto& facts : interfaces) EXPECT_NE(nicinfo.find("\n[" + facts.name + "]\n"), std::string::npos);
        EXPECT_EQ(FileCount(), 2u) << "nothing of the writing is left behind";
    }
}

TEST_F(NwinfProgram, TheEnvironmentCanTurnRenewalOff) {
    const ScopedVariable noRenew("NWINF_NO_RENEW", "1");
    const auto run = RunNwinf({"--renew-command=" + stub_, "2"});
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_FALSE(Exists("renewed"));
    ExpectWellFormedIpInfo(Read("ipinfo.tmp"));
    EXPECT_NE(Read("ipinfo.tmp").find("\nrenewal=skipped\n"), std::string::npos);
}

TEST_F(NwinfProgram, RenewalRunsTheGivenProgramForThePrimaryInterface) {
    const std::string interface =
        kbr::nwinf::PrimaryInterface(kbr::platform::ListNetworkInterfaces(), kbr::platform::DefaultRouteInterface());
    if (interface.empty()) GTEST_SKIP() << "this machine has no interface with an IPv4 address";
    const auto run = RunNwinf({"--renew-command=" + stub_, "2"});
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(Read("renewed"), interface + "\n");
    ExpectWellFormedIpInfo(Read("ipinfo.tmp"));
}

// Any interface this system has will do as the recorded one; the loopback is always there.
std::string SomeInterface() {
    const auto interfaces = kbr::platform::ListNetworkInterfaces();
    for (const auto& facts : interfaces) {
        if (facts.loopback) return facts.name;
    }
    return interfaces.empty() ? std::string() : interfaces.front().name;
}

TEST_F(NwinfProgram, AFailedRenewalIsSaidAndLogged) {
    const std::string recorded = SomeInterface();
    if (recorded.empty()) GTEST_SKIP() << "this system lists no interfaces";
    WriteFile("nicinfo.tmp", "adaptor_interface=" + recorded + "\n");
    const ScopedVariable fails("KBR_RENEW_STUB_FAILS", "1");
    // The log file's place on either system, inside the scratch folder.
    const std::string state = (fs::path(dir_) / "state").string();
    const ScopedVariable xdgState("XDG_STATE_HOME", state.c_str());
    const ScopedVariable localAppData("LOCALAPPDATA", state.c_str());
    const std::string logFile = kbr::platform::DefaultProblemLogTargets().logFile;
    ASSERT_EQ(logFile.rfind(state, 0), 0u) << logFile;

    const auto run = RunNwinf({"--renew-command=" + stub_, "2"});
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    const std::string ipinfo = Read("ipinfo.tmp");
    EXPECT_EQ(ipinfo.substr(ipinfo.find('\n')), "\nrenewal=failed\n");
    EXPECT_NE(Read("nicinfo.tmp")
                  .find("\nrenewal=failed reason=" + stub_ + " failed: Error: Not authorized to control networking.\n"),
              std::string::npos)
        << Read("nicinfo.tmp");
    std::ifstream log(logFile, std::ios::binary);
    const std::string logged((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(logged.find("nwinf: renewal failed: "), std::string::npos) << logged;
}

TEST_F(NwinfProgram, ARenewalProgramThatCannotRunIsAFailure) {
    const std::string recorded = SomeInterface();
    if (recorded.empty()) GTEST_SKIP() << "this system lists no interfaces";
    WriteFile("nicinfo.tmp", "adaptor_interface=" + recorded + "\n");
    const std::string missing = (fs::path(dir_) / "no-such-renewer").string();
    const auto run = RunNwinf({"--renew-command=" + missing, "2"});
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(Read("nicinfo.tmp").find("\nrenewal=failed reason=cannot run " + missing + "\n"), std::string::npos)
        << Read("nicinfo.tmp");
}

TEST_F(NwinfProgram, BadArgumentsWriteNothing) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, std::vector<std::string>{"3"}, std::vector<std::string>{"--bogus", "2"}}) {
        const auto run = RunNwinf(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.errors.find("usage"), std::string::npos);
        EXPECT_FALSE(Exists("ipinfo.tmp"));
        EXPECT_FALSE(Exists("nicinfo.tmp"));
    }
}

#ifndef _WIN32

TEST_F(NwinfProgram, APlantedLinkIsReplacedNotFollowed) {
    WriteFile("victim", "precious\n");
    for (const char* name : {"ipinfo.tmp", "nicinfo.tmp"}) {
        fs::create_symlink(fs::path(dir_) / "victim", fs::path(dir_) / name);
    }
    const auto run = RunNwinf({"--no-renew", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(Read("victim"), "precious\n");
    for (const char* name : {"ipinfo.tmp", "nicinfo.tmp"}) {
        EXPECT_FALSE(fs::is_symlink(fs::path(dir_) / name)) << name;
    }
    ExpectWellFormedIpInfo(Read("ipinfo.tmp"));
    EXPECT_EQ(FileCount(), 3u) << "nothing of the writing is left behind";
}

// ---- In private network namespaces (Linux) --------------------------------------------------

class NwinfInNamespace : public NwinfProgram {
protected:
    void SetUp() override {
        NwinfProgram::SetUp();
        if (Run("unshare", {"-rn", "true"}, true).exitCode != 0) GTEST_SKIP() << "no private network namespaces here";
    }
    // Runs nwinf ARGUMENTS in a namespace of its own, made by `setup` (shell commands).
    kbr::platform::ProgramRun RunInNamespace(const std::string& setup, const std::vector<std::string>& arguments) {
        std::vector<std::string> all = {"-rn", "sh", "-c", setup + " && exec \"$@\"", "sh", nwinf_};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return Run("unshare", all, true);
    }
};

// "wan0" carries the default route, "cable0" holds the adaptor's 192.168.0.x address.
const std::string TWO_NETWORKS =
    "ip link add wan0 type veth peer name wan1 && ip link add cable0 type veth peer name cable1 && "
    "for i in wan0 wan1 cable0 cable1; do ip link set $i up; done && ip addr add 10.9.0.2/24 dev wan0 && "
    "ip route add default via 10.9.0.1 && ip addr add 192.168.0.117/24 dev cable0";

TEST_F(NwinfInNamespace, TheRefreshRenewsTheInterfaceRecordedAtStartUp) {
    const auto startUp = RunInNamespace(TWO_NETWORKS, {"1"});
    ASSERT_EQ(startUp.exitCode, 0) << startUp.errors;
    EXPECT_EQ(Read("nicinfo.tmp").rfind("adaptor_interface=cable0\nrenewal=none\n", 0), 0u);
    EXPECT_EQ(Read("ipinfo.tmp"), "192.168.0.117\nrenewal=none\n");
    EXPECT_FALSE(Exists("renewed")) << "start-up renewed something";

    const auto refresh = RunInNamespace(TWO_NETWORKS, {"--renew-command=" + stub_, "2"});
    ASSERT_EQ(refresh.exitCode, 0) << refresh.errors;
    EXPECT_EQ(Read("renewed"), "cable0\n");
    // The record stays for the refresh's second run; the address is cable0's, not the default route's.
    EXPECT_EQ(Read("nicinfo.tmp").rfind("adaptor_interface=cable0\nrenewal=ok\n", 0), 0u);
    EXPECT_EQ(Read("ipinfo.tmp"), "192.168.0.117\nrenewal=ok\n");
}

TEST_F(NwinfInNamespace, WithNoNetworkItReportsNoAddress) {
    // A private network namespace has only a loopback interface, down.
    const auto run = Run("unshare", {"-rn", nwinf_, "--no-renew", "2"}, true);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(Read("ipinfo.tmp"), "0.0.0.0\nrenewal=skipped\n");
    EXPECT_EQ(Read("nicinfo.tmp"),
              "renewal=skipped\n\n[lo]\nhardware=00:00:00:00:00:00\n"
              "up=0 running=0 loopback=1 mtu=65536\ndefault_route=0\n\n");
}

// Every fact of nicinfo.tmp, over interfaces of known addresses: secondary and link-local IPv4
// addresses, IPv6 ones with and without a zone, a changed MTU, a down interface with a name of the
// longest kind, and the route to the adaptor leaving from the interface that holds its network.
TEST_F(NwinfInNamespace, TheInterfaceRecordHoldsEveryFact) {
    const std::string setup =
        "ip link set lo up && ip link add wan0 type veth peer name wan1 && "
        "ip link add cable0 type veth peer name cable1 && ip link add averyveryverylo type veth peer name spare && "
        "n=0 && for i in wan0 wan1 cable0 cable1; do n=$((n+1)); ip link set $i address 02:00:00:00:00:0$n && "
        "ip link set $i addrgenmode none && ip link set $i up || exit 1; done && "
        "ip link set averyveryverylo address 02:00:00:00:01:01 && ip link set wan1 mtu 1300 && "
        "ip addr add 10.9.0.2/24 dev wan0 && ip route add default via 10.9.0.1 && "
        "ip addr add 192.168.0.117/24 dev cable0 && ip addr add 169.254.3.4/16 dev cable0 && "
        "ip addr add 192.168.0.118/24 dev cable0 && "
        "{ ip addr add 2001:db8::5/64 dev cable0 nodad && ip addr add fe80::5/64 dev cable0 nodad || exit 77; } && "
        // Running once the system has seen the carrier of both ends.
        "for i in $(seq 500); do [ \"$(ip -o link show up | grep -c 'state UP')\" = 4 ] && break; sleep 0.01; done";
    const auto run = RunInNamespace(setup, {"1"});
    if (run.exitCode == 77) GTEST_SKIP() << "no IPv6 here";
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(Read("ipinfo.tmp"), "192.168.0.117\nrenewal=none\n");
    const std::string nicinfo = Read("nicinfo.tmp");
    EXPECT_EQ(nicinfo.rfind("adaptor_interface=cable0\nrenewal=none\n\n[lo]\n", 0), 0u) << nicinfo;
    for (const char* block : {
             "\n[lo]\nhardware=00:00:00:00:00:00\nup=1 running=1 loopback=1 mtu=65536\ndefault_route=0\n"
             "address=127.0.0.1/8\naddress=::1/128\n\n",
             "\n[wan0]\nhardware=02:00:00:00:00:01\nup=1 running=1 loopback=0 mtu=1500\ndefault_route=1\n"
             "address=10.9.0.2/24\n\n",
             "\n[wan1]\nhardware=02:00:00:00:00:02\nup=1 running=1 loopback=0 mtu=1300\ndefault_route=0\n\n",
             "\n[cable0]\nhardware=02:00:00:00:00:03\nup=1 running=1 loopback=0 mtu=1500\ndefault_route=0\n"
             "address=192.168.0.117/24\naddress=169.254.3.4/16\naddress=192.168.0.118/24\n"
             "address=2001:db8::5/64\naddress=fe80::5%cable0/64\n\n",
             "\n[averyveryverylo]\nhardware=02:00:00:00:01:01\nup=0 running=0 loopback=0 mtu=1500\n"
             "default_route=0\n\n",
         }) {
        EXPECT_NE(nicinfo.find(block), std::string::npos) << block << "\nnot in\n" << nicinfo;
    }
}

#endif  // !_WIN32

}  // namespace
