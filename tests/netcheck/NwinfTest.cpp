// The IP helper: its choice of the primary address over made-up interfaces, and the program
// itself run in modes that never renew this machine's address.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "tools/nwinf/NetInfo.h"

namespace {

using kbr::nwinf::InterfaceFacts;

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
        {"default route wins", {lo, Nic("eth0", {"10.0.0.7"}), Nic("wlan0", {"192.168.1.5"})}, "wlan0",
         "192.168.1.5", "wlan0"},
        {"down interface ignored", {Nic("eth0", {"10.0.0.7"}, false), Nic("eth1", {"10.0.0.8"})}, "", "10.0.0.8",
         "eth1"},
        {"no IPv4 ignored", {Nic("eth0", {}), Nic("eth1", {"10.0.0.8"})}, "", "10.0.0.8", "eth1"},
        {"routable before link-local", {Nic("eth0", {"169.254.3.4"}), Nic("eth1", {"10.0.0.8"})}, "", "10.0.0.8",
         "eth1"},
        {"only link-local is reported", {lo, Nic("eth0", {"169.254.10.2"})}, "", "169.254.10.2", "eth0"},
        {"routable address of the interface first", {Nic("eth0", {"169.254.10.2", "192.168.0.100"})}, "eth0",
         "192.168.0.100", "eth0"},
        {"stale default route name", {Nic("eth1", {"10.0.0.8"})}, "eth0", "10.0.0.8", "eth1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kbr::nwinf::PrimaryIPv4(c.interfaces, c.defaultRoute), c.address);
        EXPECT_EQ(kbr::nwinf::PrimaryInterface(c.interfaces, c.defaultRoute), c.interface);
    }
}

TEST(NwinfDefaultRoute, FromRouteTable) {
    const std::string header =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    struct Case {
        const char* name;
        std::string table;
        std::string expected;
    };
    const Case cases[] = {
        {"one default", header + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                 "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
         "eth0"},
        {"lowest metric", header + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                                   "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n",
         "eth0"},
        {"route not up", header + "eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n", ""},
        {"no default", header + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n", ""},
        {"empty", "", ""},
        {"not a route table", "eth0 00000000 0 3 0 0 0 00000000\n", ""},
        {"garbage rows", header + "eth0\tzz\t\n\x01\x02\neth1\t00000000\tq\t0003\t0\t0\tx\t00000000\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kbr::nwinf::DefaultRouteInterfaceFromTable(c.table), c.expected);
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
    EXPECT_EQ(kbr::nwinf::AddressOf(interfaces, "eth0"), "192.168.0.117");
    EXPECT_EQ(kbr::nwinf::AddressOf(interfaces, "eth9"), "0.0.0.0");
    EXPECT_EQ(kbr::nwinf::AddressOf(interfaces, "missing"), "0.0.0.0");
    EXPECT_EQ(kbr::nwinf::AdaptorInterface({Nic("wlan0", {"192.168.1.5"})}), "");
    // The home network on 192.168.0.x as well: the one the route to the adaptor leaves from wins.
    const std::vector<InterfaceFacts> both = {Nic("wlan0", {"192.168.0.7"}), Nic("eth0", {"192.168.0.117"})};
    EXPECT_EQ(kbr::nwinf::AdaptorInterface(both, "192.168.0.117"), "eth0");
    EXPECT_EQ(kbr::nwinf::AdaptorInterface(both, ""), "wlan0");
}

TEST(NwinfFiles, RenewalOutcomeAndRecordedInterface) {
    using kbr::nwinf::RenewalStatus;
    using State = RenewalStatus::State;
    EXPECT_EQ(kbr::nwinf::FormatIpInfo("10.0.0.7"), "10.0.0.7\nrenewal=none\n");
    EXPECT_EQ(kbr::nwinf::FormatIpInfo("10.0.0.7", {State::Renewed, ""}), "10.0.0.7\nrenewal=ok\n");
    EXPECT_EQ(kbr::nwinf::FormatIpInfo("0.0.0.0", {State::Failed, "no rights:\nx"}), "0.0.0.0\nrenewal=failed\n");
    EXPECT_EQ(kbr::nwinf::RenewalLine({State::Failed, "no rights:\nx"}), "renewal=failed reason=no rights: x");
    EXPECT_EQ(kbr::nwinf::RenewalLine({State::Skipped, ""}), "renewal=skipped");

    const std::string nicinfo = kbr::nwinf::FormatNicInfo({Nic("eth0", {"192.168.0.117"})}, "eth0", "eth0",
                                                          {State::Failed, "why"});
    EXPECT_EQ(nicinfo.rfind("adaptor_interface=eth0\nrenewal=failed reason=why\n", 0), 0u) << nicinfo;
    EXPECT_EQ(kbr::nwinf::RecordedAdaptorInterface(nicinfo), "eth0");
    for (const char* bad : {"", "adaptor_interface=\n", "adaptor_interface=-r\n", "adaptor_interface=../x\n",
                            "adaptor_interface=averyveryverylongname\n", "xadaptor_interface=eth0\n"}) {
        EXPECT_EQ(kbr::nwinf::RecordedAdaptorInterface(bad), "") << bad;
    }
}

TEST(NwinfArguments, Table) {
    using V = std::vector<std::string>;
    EXPECT_EQ(kbr::nwinf::ParseArguments(V{"1"})->mode, 1);
    EXPECT_TRUE(kbr::nwinf::ParseArguments(V{"2"})->renew);
    const auto quiet = kbr::nwinf::ParseArguments(V{"--no-renew", "--renew-command=/bin/x", "2"});
    ASSERT_TRUE(quiet);
    EXPECT_FALSE(quiet->renew);
    EXPECT_EQ(quiet->renewCommand, "/bin/x");
    for (const V& bad : {V{}, V{"3"}, V{"1", "2"}, V{"--no-renew"}, V{"--renew-command=", "1"}, V{"12"},
                         V{"-x", "1"}}) {
        EXPECT_FALSE(kbr::nwinf::ParseArguments(bad));
    }
}

// ---------------------------------------------------------------------------------------------
// The program. Every run either skips the renewal or replaces it with a recording script.

class NwinfProgram : public ::testing::Test {
protected:
    struct Run {
        int exitCode = -1;
        QString errors;
    };
    Run Start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment =
                                                                        QProcessEnvironment::systemEnvironment()) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir_.path());
        process.start(program, arguments);
        Run run;
        if (!process.waitForFinished(30'000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.errors = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }
    QString RecordingRenewer() {
        const QString path = dir_.filePath("renewer");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/renewed\"\n");
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return path;
    }
    QByteArray Read(const char* name) {
        QFile file(dir_.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool Exists(const char* name) { return QFile::exists(dir_.filePath(QString::fromLatin1(name))); }
    void WriteFile(const char* name, const QByteArray& content) {
        QFile file(dir_.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    // First line: a dotted IPv4 address, 0.0.0.0 for none.
    static void ExpectWellFormedIpInfo(const QByteArray& content) {
        const QString firstLine = QString::fromLatin1(content).section('\n', 0, 0);
        static const QRegularExpression dotted(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
        const auto match = dotted.match(firstLine);
        ASSERT_TRUE(match.hasMatch()) << firstLine.toStdString();
        for (int i = 1; i <= 4; ++i) EXPECT_LE(match.captured(i).toInt(), 255);
        EXPECT_TRUE(content.endsWith('\n'));
    }

    static bool PrivateNamespaces() {
        QProcess probe;
        probe.start("unshare", {"-rn", "true"});
        return probe.waitForFinished(10'000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    }

    const QString nwinf_ = QStringLiteral(NWINF_PROGRAM);
    QTemporaryDir dir_;
};

TEST_F(NwinfProgram, WithoutRenewalWritesWellFormedFilesOfThisMachine) {
    const QString renewer = RecordingRenewer();
    for (const char* mode : {"1", "2"}) {
        SCOPED_TRACE(mode);
        const Run run = Start(nwinf_, {"--no-renew", "--renew-command=" + renewer, mode});
        EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
        // At start-up nothing is renewed anyway; asked to refresh, it says it skipped.
        EXPECT_EQ(run.errors.contains("renewal skipped"), mode[0] == '2');
        EXPECT_TRUE(Read("ipinfo.tmp").endsWith(mode[0] == '2' ? "renewal=skipped\n" : "renewal=none\n"));
        EXPECT_FALSE(Exists("renewed")) << "asked not to renew, it renewed";
        ExpectWellFormedIpInfo(Read("ipinfo.tmp"));
        const QByteArray address = Read("ipinfo.tmp").split('\n').front();
        // Start-up reports the interface facing the adaptor where there is one.
        const auto interfaces = kbr::nwinf::CollectInterfaces();
        const std::string adaptor = mode[0] == '1' ? kbr::nwinf::AdaptorInterface(interfaces) : "";
        EXPECT_EQ(address, QByteArray::fromStdString(
                               adaptor.empty()
                                   ? kbr::nwinf::PrimaryIPv4(interfaces, kbr::nwinf::DefaultRouteInterface())
                                   : kbr::nwinf::AddressOf(interfaces, adaptor)));
        EXPECT_TRUE(Read("nicinfo.tmp").contains("[lo]"));
        EXPECT_FALSE(Exists("ipinfo.tmp.tmp"));
    }
}

TEST_F(NwinfProgram, TheEnvironmentCanTurnRenewalOff) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NWINF_NO_RENEW", "1");
    const Run run = Start(nwinf_, {"--renew-command=" + RecordingRenewer(), "1"}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_FALSE(Exists("renewed"));
    ExpectWellFormedIpInfo(Read("ipinfo.tmp"));
}

TEST_F(NwinfProgram, RenewalRunsTheGivenProgramForThePrimaryInterface) {
    const std::string interface =
        kbr::nwinf::PrimaryInterface(kbr::nwinf::CollectInterfaces(), kbr::nwinf::DefaultRouteInterface());
    if (interface.empty()) GTEST_SKIP() << "this machine has no interface with an IPv4 address";
    const Run run = Start(nwinf_, {"--renew-command=" + RecordingRenewer(), "2"});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(Read("renewed"), QByteArray::fromStdString(interface + "\n"));
    ExpectWellFormedIpInfo(Read("ipinfo.tmp"));
}

TEST_F(NwinfProgram, TheRefreshRenewsTheInterfaceRecordedAtStartUp) {
    // A private network namespace with two interfaces: "wan0" carries the default route, "cable0"
    // holds the adaptor's 192.168.0.x address.
    if (!PrivateNamespaces()) GTEST_SKIP() << "no private network namespaces here";
    const QString setup = QStringLiteral(
        "ip link add wan0 type veth peer name wan1 && ip link add cable0 type veth peer name cable1 && "
        "for i in wan0 wan1 cable0 cable1; do ip link set $i up; done && ip addr add 10.9.0.2/24 dev wan0 && ip route add default via 10.9.0.1 && "
        "ip addr add 192.168.0.117/24 dev cable0 && exec \"$@\"");
    const QString renewer = RecordingRenewer();
    const Run startUp = Start("unshare", {"-rn", "sh", "-c", setup, "sh", nwinf_, "1"});
    ASSERT_EQ(startUp.exitCode, 0) << startUp.errors.toStdString();
    EXPECT_TRUE(Read("nicinfo.tmp").startsWith("adaptor_interface=cable0\nrenewal=none\n"));
    EXPECT_EQ(Read("ipinfo.tmp"), "192.168.0.117\nrenewal=none\n");
    EXPECT_FALSE(Exists("renewed")) << "start-up renewed something";

    const Run refresh = Start("unshare", {"-rn", "sh", "-c", setup, "sh", nwinf_, "--renew-command=" + renewer, "2"});
    ASSERT_EQ(refresh.exitCode, 0) << refresh.errors.toStdString();
    EXPECT_EQ(Read("renewed"), "cable0\n");
    // The record stays for the refresh's second run; the address is cable0's, not the default route's.
    EXPECT_TRUE(Read("nicinfo.tmp").startsWith("adaptor_interface=cable0\nrenewal=ok\n"));
    EXPECT_EQ(Read("ipinfo.tmp"), "192.168.0.117\nrenewal=ok\n");
}

TEST_F(NwinfProgram, AFailedRenewalIsSaidAndLogged) {
    const QString failing = dir_.filePath("failing");
    WriteFile("failing", "#!/bin/sh\necho 'Error: Not authorized to control networking.' >&2\nexit 4\n");
    QFile::setPermissions(failing, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    WriteFile("nicinfo.tmp", "adaptor_interface=lo\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_STATE_HOME", dir_.filePath("state"));
    const Run run = Start(nwinf_, {"--renew-command=" + failing, "2"}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_TRUE(Read("ipinfo.tmp").endsWith("\nrenewal=failed\n"));
    EXPECT_TRUE(Read("nicinfo.tmp").contains("renewal=failed reason=" + failing.toUtf8() +
                                             " failed: Error: Not authorized to control networking."))
        << Read("nicinfo.tmp").toStdString();
    QFile log(dir_.filePath("state/kbr3300/log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("nwinf: renewal failed: "));
}

TEST_F(NwinfProgram, APlantedLinkIsReplacedNotFollowed) {
    WriteFile("victim", "precious\n");
    for (const char* name : {"ipinfo.tmp", "nicinfo.tmp"}) {
        ASSERT_TRUE(QFile::link(dir_.filePath("victim"), dir_.filePath(QString::fromLatin1(name))));
    }
    const Run run = Start(nwinf_, {"--no-renew", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(Read("victim"), "precious\n");
    for (const char* name : {"ipinfo.tmp", "nicinfo.tmp"}) {
        EXPECT_FALSE(QFileInfo(dir_.filePath(QString::fromLatin1(name))).isSymLink()) << name;
    }
    ExpectWellFormedIpInfo(Read("ipinfo.tmp"));
    // Nothing of the writing is left behind.
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 3);
}

TEST_F(NwinfProgram, BadArgumentsWriteNothing) {
    for (const QStringList& arguments : {QStringList{}, QStringList{"3"}, QStringList{"--bogus", "2"}}) {
        const Run run = Start(nwinf_, arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.errors.contains("usage"));
        EXPECT_FALSE(Exists("ipinfo.tmp"));
        EXPECT_FALSE(Exists("nicinfo.tmp"));
    }
}

TEST_F(NwinfProgram, WithNoNetworkItReportsNoAddress) {
    // A private network namespace has only a loopback interface.
    if (!PrivateNamespaces()) GTEST_SKIP() << "no private network namespaces here";
    const Run run = Start("unshare", {"-rn", nwinf_, "--no-renew", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(Read("ipinfo.tmp"), "0.0.0.0\nrenewal=skipped\n");
}

}  // namespace
