// The IP helper: its choice of the primary address over made-up interfaces, and the program
// itself run in modes that never renew this machine's address.

#include <gtest/gtest.h>

#include <QFile>
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

    // First line: a dotted IPv4 address, 0.0.0.0 for none.
    static void ExpectWellFormedIpInfo(const QByteArray& content) {
        const QString firstLine = QString::fromLatin1(content).section('\n', 0, 0);
        static const QRegularExpression dotted(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
        const auto match = dotted.match(firstLine);
        ASSERT_TRUE(match.hasMatch()) << firstLine.toStdString();
        for (int i = 1; i <= 4; ++i) EXPECT_LE(match.captured(i).toInt(), 255);
        EXPECT_TRUE(content.endsWith('\n'));
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
        EXPECT_TRUE(run.errors.contains("renewal skipped"));
        EXPECT_FALSE(Exists("renewed")) << "asked not to renew, it renewed";
        ExpectWellFormedIpInfo(Read("ipinfo.tmp"));
        const QByteArray address = Read("ipinfo.tmp").trimmed();
        EXPECT_EQ(address, QByteArray::fromStdString(kbr::nwinf::PrimaryIPv4(kbr::nwinf::CollectInterfaces(),
                                                                             kbr::nwinf::DefaultRouteInterface())));
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
    QProcess probe;
    probe.start("unshare", {"-rn", "true"});
    if (!probe.waitForFinished(10'000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        GTEST_SKIP() << "no private network namespaces here";
    }
    const Run run = Start("unshare", {"-rn", nwinf_, "--no-renew", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(Read("ipinfo.tmp"), "0.0.0.0\n");
}

}  // namespace
