// This PC's network facts as the system reports them, and the plain pieces behind them.
#include "platform/Network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace kbr::platform {
namespace {

TEST(Network, HardwareAddressText) {
    const unsigned char ethernet[] = {0x02, 0x00, 0x5e, 0x10, 0xab, 0xff};
    EXPECT_EQ(HardwareAddressText(ethernet, sizeof ethernet), "02:00:5E:10:AB:FF");
    EXPECT_EQ(HardwareAddressText(ethernet, 1), "02");
    EXPECT_EQ(HardwareAddressText(nullptr, 0), "");
    const unsigned char tunnel[16] = {0x20, 0x01, 0x0d, 0xb8};  // an IPv6 tunnel's endpoint
    EXPECT_EQ(HardwareAddressText(tunnel, sizeof tunnel), "20:01:0D:B8:00:00:00:00:00:00:00:00:00:00:00:00");
}

TEST(Network, DefaultRouteFromALinuxRouteTable) {
    const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    struct Case {
        const char* name;
        std::string table;
        std::string expected;
    };
    const Case cases[] = {
        {"one default",
         header + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                  "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
         "eth0"},
        {"lowest metric",
         header + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
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
        EXPECT_EQ(DefaultRouteInterfaceFromTable(c.table), c.expected);
    }
}

bool IsDotted(const std::string& text) {
    int parts = 0;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('.', start);
        const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255) {
            return false;
        }
        ++parts;
        if (end == std::string::npos) return parts == 4;
        start = end + 1;
    }
}

// Whatever this machine (or Wine) has: the facts hang together, and the loopback is there.
TEST(Network, TheInterfacesOfThisSystem) {
    const auto interfaces = ListNetworkInterfaces();
    std::set<std::string> names;
    for (const auto& facts : interfaces) {
        SCOPED_TRACE(facts.name);
        EXPECT_FALSE(facts.name.empty());
        EXPECT_TRUE(names.insert(facts.name).second) << "named twice";
        for (const auto& address : facts.ipv4) {
            EXPECT_TRUE(IsDotted(address)) << address;
            EXPECT_TRUE(std::any_of(facts.addresses.begin(), facts.addresses.end(),
                                    [&](const std::string& entry) { return entry.rfind(address + "/", 0) == 0; }))
                << address << " without its prefix length";
        }
        for (const auto& entry : facts.addresses) {
            const size_t slash = entry.rfind('/');
            ASSERT_NE(slash, std::string::npos) << entry;
            EXPECT_LE(std::stoi(entry.substr(slash + 1)), 128) << entry;
        }
        EXPECT_GE(facts.mtu, 0);
    }
    const auto loopback = std::find_if(interfaces.begin(), interfaces.end(), [](const auto& f) { return f.loopback; });
    ASSERT_NE(loopback, interfaces.end()) << "no loopback interface";
    EXPECT_FALSE(loopback->wired) << "a loopback is no cable";
#ifndef _WIN32
    EXPECT_EQ(loopback->name, "lo");
    EXPECT_EQ(loopback->hardwareAddress, "00:00:00:00:00:00");
#endif
}

TEST(Network, Routes) {
    EXPECT_EQ(RouteInterfaceTowards("not an address"), "");
    EXPECT_EQ(RouteInterfaceTowards("::1"), "");
    EXPECT_EQ(RouteInterfaceTowards(""), "");
    const auto interfaces = ListNetworkInterfaces();
    const auto named = [&](const std::string& name) {
        return std::find_if(interfaces.begin(), interfaces.end(), [&](const auto& f) { return f.name == name; });
    };
    // Where the loopback is up, the route to its address leaves from it.
    const std::string toLoopback = RouteInterfaceTowards("127.0.0.1");
    if (!toLoopback.empty()) {
        ASSERT_NE(named(toLoopback), interfaces.end()) << toLoopback;
        EXPECT_TRUE(named(toLoopback)->loopback) << toLoopback;
    }
    const std::string defaultRoute = DefaultRouteInterface();
    if (!defaultRoute.empty()) {
        EXPECT_NE(named(defaultRoute), interfaces.end()) << defaultRoute;
    }
}

}  // namespace
}  // namespace kbr::platform
