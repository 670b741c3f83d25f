// Linux: the links from the kernel's own list (a route netlink dump: name, flags, MTU and link
// address of any length, in interface-index order), their addresses from getifaddrs, routes from
// /proc/net/route and a datagram socket's choice of source. All of it is this process's network
// namespace's.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "platform/AddressText.h"
#include "platform/FileAccess.h"
#include "platform/Network.h"
#include "platform/SafeFile.h"

namespace kbr::platform {

namespace {

constexpr size_t ROUTE_TABLE_MAX = 1 << 20;
constexpr int NETLINK_WAIT_MS = 2000;
// Far more links than any PC has; the dump ends long before.
constexpr size_t LINKS_MAX = 4096;
// The wireless extensions' "get name" request (linux/wireless.h, whose header clashes with
// net/if.h): only wireless interfaces answer it.
constexpr unsigned long SIOCGIWNAME_REQUEST = 0x8B01;

// One link of a RTM_NEWLINK message; false when the message is not a whole one.
bool ReadLink(const nlmsghdr* message, NetworkInterface& link) {
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) return false;
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(message));
    link.up = (info->ifi_flags & IFF_UP) != 0;
    link.running = (info->ifi_flags & IFF_RUNNING) != 0;
    link.loopback = (info->ifi_flags & IFF_LOOPBACK) != 0;
    link.wired = info->ifi_type == ARPHRD_ETHER && !link.loopback;
    int length = static_cast<int>(IFLA_PAYLOAD(message));
    for (const rtattr* attribute = IFLA_RTA(info); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
        const auto* data = static_cast<const unsigned char*>(RTA_DATA(attribute));
        const size_t size = RTA_PAYLOAD(attribute);
        switch (attribute->rta_type) {
            case IFLA_IFNAME: {
                const auto* name = reinterpret_cast<const char*>(data);
                link.name.assign(name, strnlen(name, size));
                break;
            }
            case IFLA_ADDRESS: link.hardwareAddress = HardwareAddressText(data, size); break;
            case IFLA_MTU:
                if (size >= sizeof(uint32_t)) {
                    uint32_t mtu = 0;
                    std::memcpy(&mtu, data, sizeof mtu);
                    link.mtu = static_cast<int>(mtu);
                }
                break;
            default: break;
        }
    }
    return !link.name.empty();
}

// Every link, from one RTM_GETLINK dump; empty when the kernel cannot be asked.
std::vector<NetworkInterface> ListLinks() {
    std::vector<NetworkInterface> links;
    const Descriptor socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (socket.Get() < 0) return links;
    struct {
        nlmsghdr header;
        ifinfomsg info;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.info.ifi_family = AF_UNSPEC;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(socket.Get(), &request, request.header.nlmsg_len, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        return links;
    }
    // Each datagram holds whole messages; the kernel's dump datagrams are at most 32 KiB.
    std::vector<uint32_t> storage(64 * 1024 / sizeof(uint32_t));  // aligned as netlink messages are
    char* const buffer = reinterpret_cast<char*>(storage.data());
    const size_t bufferSize = storage.size() * sizeof(uint32_t);
    for (;;) {
        pollfd entry{socket.Get(), POLLIN, 0};
        if (::poll(&entry, 1, NETLINK_WAIT_MS) <= 0) return {};
        const ssize_t received = ::recv(socket.Get(), buffer, bufferSize, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) return {};
        int left = static_cast<int>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_seq != request.header.nlmsg_seq) continue;
            if (message->nlmsg_type == NLMSG_DONE) return links;
            if (message->nlmsg_type == NLMSG_ERROR) return {};
            if (message->nlmsg_type != RTM_NEWLINK) continue;
            NetworkInterface link;
            if (ReadLink(message, link) && links.size() < LINKS_MAX) links.push_back(std::move(link));
        }
    }
}

int PrefixLength(const sockaddr* mask) {
    if (mask == nullptr) return 0;
    const unsigned char* bytes = nullptr;
    size_t size = 0;
    if (mask->sa_family == AF_INET6) {
        bytes = reinterpret_cast<const sockaddr_in6*>(mask)->sin6_addr.s6_addr;
        size = 16;
    } else {
        bytes = reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in*>(mask)->sin_addr);
        size = 4;
    }
    int bits = 0;
    for (size_t i = 0; i < size; ++i) bits += std::popcount(static_cast<unsigned>(bytes[i]));
    return bits;
}

}  // namespace

std::vector<NetworkInterface> ListNetworkInterfaces() {
    std::vector<NetworkInterface> interfaces = ListLinks();
    // Wireless interfaces answer the wireless extensions' name question; wired ones do not.
    const Descriptor probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    for (NetworkInterface& facts : interfaces) {
        if (!facts.wired || !probe.Valid()) continue;
        ifreq wireless{};
        std::strncpy(wireless.ifr_name, facts.name.c_str(), IFNAMSIZ - 1);
        if (::ioctl(probe.Get(), SIOCGIWNAME_REQUEST, &wireless) == 0) facts.wired = false;
    }
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return interfaces;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const sockaddr* address = entry->ifa_addr;
        if (address == nullptr || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) continue;
        for (NetworkInterface& facts : interfaces) {
            if (facts.name != entry->ifa_name) continue;
            const std::string text = AddressText(address, facts.name);
            if (address->sa_family == AF_INET) facts.ipv4.push_back(text);
            facts.addresses.push_back(text + "/" + std::to_string(PrefixLength(entry->ifa_netmask)));
            break;
        }
    }
    ::freeifaddrs(list);
    return interfaces;
}

std::string RouteInterfaceTowards(const std::string& address) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(9);
    if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) return {};
    // Connecting a datagram socket only chooses the route and the source address; nothing is sent.
    const Descriptor probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (probe.Get() < 0 || ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        return {};
    }
    sockaddr_in source{};
    socklen_t length = sizeof source;
    if (::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&source), &length) != 0) return {};

    // The interface holding that source address (one that is up and running before one that is not).
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    std::string found;
    bool foundRunning = false;
    for (const ifaddrs* entry = list; entry != nullptr && !foundRunning; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr != source.sin_addr.s_addr) continue;
        const bool running = (entry->ifa_flags & IFF_UP) && (entry->ifa_flags & IFF_RUNNING);
        if (found.empty() || running) {
            found = entry->ifa_name;
            foundRunning = running;
        }
    }
    ::freeifaddrs(list);
    return found;
}

std::string DefaultRouteInterface() {
    // This namespace's table: /proc/net is the reading process's own.
    const auto table = ReadRegularFile("/proc/net/route", ROUTE_TABLE_MAX);
    return table ? DefaultRouteInterfaceFromTable(*table) : std::string();
}

}  // namespace kbr::platform
