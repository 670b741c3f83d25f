// The Linux ipconfig's decisions: its arguments, nmcli's device list, the wired interfaces in
// sysfs, and which commands release or renew. The program itself is never run by tests.

#include "tools/ipconfig/IpconfigPlan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kbr::ipconfig {
namespace {

using Commands = std::vector<std::vector<std::string>>;

TEST(IpconfigArgumentsTest, AcceptsTheWindowsForms) {
    struct Row {
        std::vector<std::string> args;
        std::optional<Action> action;
        std::string adapter;
    };
    const std::vector<Row> rows = {
        {{}, Action::Show, ""},
        {{"/all"}, Action::Show, ""},
        {{"/release"}, Action::Release, ""},
        {{"/RENEW"}, Action::Renew, ""},
        {{"-renew"}, Action::Renew, ""},
        {{"--release", "eth0"}, Action::Release, "eth0"},
        {{"/?"}, Action::Help, ""},
        {{"release"}, std::nullopt, ""},
        {{"/"}, std::nullopt, ""},
        {{"/flushdns"}, std::nullopt, ""},
        {{"/renew", "eth0", "eth1"}, std::nullopt, ""},
        {{"/renew", "-r"}, std::nullopt, ""},  // never an option for the tools we run
        {{"/renew", "../x"}, std::nullopt, ""},
        {{"/renew", "averyveryverylongname"}, std::nullopt, ""},
        {{"/all", "eth0"}, std::nullopt, ""},
    };
    for (const Row& row : rows) {
        const auto request = ParseArguments(row.args);
        const std::string label = row.args.empty() ? "(none)" : row.args[0];
        ASSERT_EQ(request.has_value(), row.action.has_value()) << label;
        if (request) {
            EXPECT_EQ(request->action, *row.action) << label;
            EXPECT_EQ(request->adapter, row.adapter) << label;
        }
    }
}

TEST(IpconfigNmcliTest, ParsesTerseDeviceStatus) {
    const auto devices = ParseNmcliDevices(
        "enp3s0:ethernet:connected\n"
        "wlp2s0:wifi:disconnected\r\n"
        "odd\\:name:ethernet:connecting (getting IP configuration)\n"
        "lo:loopback:unmanaged\n"
        "\n"
        "broken-line\n"
        "too:many:fields:here\n"
        "enx00:ethernet:unavailable");
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0].name, "enp3s0");
    EXPECT_EQ(devices[1].state, "disconnected");
    EXPECT_EQ(devices[2].name, "odd:name");
    EXPECT_EQ(devices[2].state, "connecting (getting IP configuration)");
    EXPECT_EQ(devices[4].state, "unavailable");
}

TEST(IpconfigSysfsTest, ListsPhysicalWiredInterfacesOnly) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("ipconfig-sysfs-" + std::to_string(::getpid()));
    fs::remove_all(root);
    auto make = [&](const std::string& name, const char* type, bool device, bool wireless) {
        fs::create_directories(root / name);
        std::ofstream(root / name / "type") << type << "\n";
        if (device) {
            fs::create_directories(root / name / "device");
        }
        if (wireless) {
            fs::create_directories(root / name / "wireless");
        }
    };
    make("enp3s0", "1", true, false);
    make("eth1", "1", true, false);
    make("wlp2s0", "1", true, true);    // wireless
    make("docker0", "1", false, false);  // virtual bridge
    make("lo", "772", false, false);     // loopback
    make("garbage", "x", true, false);
    EXPECT_EQ(ListWiredInterfaces(root), (std::vector<std::string>{"enp3s0", "eth1"}));
    EXPECT_TRUE(ListWiredInterfaces(root / "missing").empty());
    fs::remove_all(root);
}

struct PlanCase {
    const char* name;
    Request request;
    SystemFacts facts;
    Commands commands;
    size_t problems;
};

void PrintTo(const PlanCase& c, std::ostream* os) {
    *os << c.name;
}

class IpconfigPlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(IpconfigPlanTest, PlansTheRightCommands) {
    const PlanCase& c = GetParam();
    const Plan plan = MakePlan(c.request, c.facts);
    EXPECT_EQ(plan.commands, c.commands);
    EXPECT_EQ(plan.problems.size(), c.problems);
}

const std::vector<NmDevice> kNmDevices = {{"enp3s0", "ethernet", "connected"},
                                          {"enp4s0", "ethernet", "disconnected"},
                                          {"enx01", "ethernet", "unavailable"},
                                          {"wlp2s0", "wifi", "connected"},
                                          {"eth9", "ethernet", "unmanaged"}};

SystemFacts NmFacts(bool dhclient = false, bool root = false) {
    return {true, kNmDevices, {"enp3s0", "enp4s0", "enx01", "eth9"}, dhclient, root};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IpconfigPlanTest,
    ::testing::Values(
        // NetworkManager: wired devices only; wireless is never touched.
        PlanCase{"NmRelease", {Action::Release, ""}, NmFacts(), {{"nmcli", "device", "disconnect", "enp3s0"}}, 0},
        // enx01 has no cable: reported, not connected.
        PlanCase{"NmRenew", {Action::Renew, ""}, NmFacts(),
                 {{"nmcli", "device", "connect", "enp3s0"}, {"nmcli", "device", "connect", "enp4s0"}}, 1},
        // The interface NetworkManager leaves alone goes to dhclient when we may run it.
        PlanCase{"NmUnmanagedToDhclient", {Action::Renew, ""}, NmFacts(true, true),
                 {{"nmcli", "device", "connect", "enp3s0"},
                  {"nmcli", "device", "connect", "enp4s0"},
                  {"dhclient", "eth9"}},
                 1},
        PlanCase{"NmOneAdapter", {Action::Release, "enp4s0"}, NmFacts(), {}, 0},
        PlanCase{"UnknownAdapter", {Action::Renew, "eth7"}, NmFacts(), {}, 1},
        PlanCase{"DhclientAsRoot", {Action::Release, ""}, {false, {}, {"eth0", "eth1"}, true, true},
                 {{"dhclient", "-r", "eth0", "eth1"}}, 0},
        PlanCase{"DhclientRenewOneAdapter", {Action::Renew, "eth1"}, {false, {}, {"eth0", "eth1"}, true, true},
                 {{"dhclient", "eth1"}}, 0},
        PlanCase{"DhclientNeedsRoot", {Action::Renew, ""}, {false, {}, {"eth0"}, true, false}, {}, 1},
        PlanCase{"NothingAvailable", {Action::Renew, ""}, {false, {}, {"eth0"}, false, false}, {}, 1},
        PlanCase{"NoWiredAdapter", {Action::Release, ""}, {false, {}, {}, true, true}, {}, 1},
        PlanCase{"ShowPlansNothing", {Action::Show, ""}, NmFacts(true, true), {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbr::ipconfig
