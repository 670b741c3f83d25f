#pragma once
// This PC's network interfaces and routes as the system reports them now (Linux: getifaddrs and
// the kernel's route table; Windows: the IP Helper's adapter list and best routes). Nothing here
// sends a packet or changes a setting. No Qt.

#include <string>
#include <string_view>
#include <vector>

namespace kbr::platform {

struct NetworkInterface {
    // Linux: the interface name ("eth0"). Windows: the connection's name as ipconfig shows and
    // takes it ("Ethernet 2"), in the ANSI code page.
    std::string name;
    std::string hardwareAddress;  // "02:00:5E:10:00:01"; empty when the interface has none
    bool up = false;              // Windows: up and running both follow the operational state
    bool running = false;
    bool loopback = false;
    // A cable's: Ethernet, not wireless, not loopback (Linux: an Ethernet link that does not
    // answer the wireless extensions' question, veth pairs included).
    bool wired = false;
    int mtu = 0;
    std::vector<std::string> ipv4;       // dotted, e.g. "192.168.1.33", in the system's order
    std::vector<std::string> addresses;  // every address with its prefix length, IPv6 link-local ones
                                         // with their zone: "10.0.0.7/24", "fe80::1%eth0/64"
};

// Every interface, in the system's order (Linux: by interface index).
std::vector<NetworkInterface> ListNetworkInterfaces();

// The interface that the route towards the IPv4 address `address` leaves from (no packet is
// sent); empty when there is no route or the address is not dotted IPv4.
std::string RouteInterfaceTowards(const std::string& address);

// The interface that carries the IPv4 default route (the lowest metric where there are several);
// empty when there is none.
std::string DefaultRouteInterface();

// The default-route interface from the text of a Linux /proc/net/route table; empty when it has
// no default route that is up or the text is not such a table.
std::string DefaultRouteInterfaceFromTable(std::string_view routeTable);

// "02:00:5E:10:00:01": the bytes of a hardware address in upper-case hexadecimal, colon-separated.
std::string HardwareAddressText(const unsigned char* bytes, size_t length);

}  // namespace kbr::platform
