// Windows: the adapters from the IP Helper (GetAdaptersAddresses), the routes from its best-route
// queries (GetBestInterface, GetBestRoute). Names are the connections' names, as ipconfig shows
// and takes them.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <climits>
#include <cstdint>

#include "platform/AddressText.h"
#include "platform/Network.h"

namespace kbr::platform {

namespace {

struct Adapter {
    NetworkInterface facts;
    DWORD index = 0;  // the IPv4 interface index (0: none)
};

// Windows Sockets started for as long as the object lives (the address texts need them).
class SocketsInUse {
public:
    SocketsInUse() : started_(::WSAStartup(MAKEWORD(2, 2), &data_) == 0) {}
    SocketsInUse(const SocketsInUse&) = delete;
    SocketsInUse& operator=(const SocketsInUse&) = delete;
    ~SocketsInUse() {
        if (started_) ::WSACleanup();
    }

private:
    WSADATA data_{};
    bool started_;
};

// The wide text in the ANSI code page: the programs' own text, and what CreateProcessA passes on.
std::string Narrow(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') return {};
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size - 1));
    return narrow;
}

std::vector<Adapter> ListAdapters() {
    std::vector<Adapter> adapters;
    const SocketsInUse sockets;
    constexpr ULONG FLAGS = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list can grow between the size query and the call: a few tries.
    ULONG size = 16 * 1024;
    std::vector<uint64_t> storage;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        storage.assign(size / sizeof(uint64_t) + 1, 0);
        size = static_cast<ULONG>(storage.size() * sizeof(uint64_t));
        result = ::GetAdaptersAddresses(AF_UNSPEC, FLAGS, nullptr,
                                        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
    }
    if (result != NO_ERROR) return adapters;
    for (auto* entry = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(storage.data()); entry != nullptr;
         entry = entry->Next) {
        Adapter adapter;
        adapter.index = entry->IfIndex;
        NetworkInterface& facts = adapter.facts;
        facts.name = Narrow(entry->FriendlyName);
        facts.hardwareAddress =
            HardwareAddressText(entry->PhysicalAddress, entry->PhysicalAddressLength < MAX_ADAPTER_ADDRESS_LENGTH
                                                            ? entry->PhysicalAddressLength
                                                            : MAX_ADAPTER_ADDRESS_LENGTH);
        facts.up = entry->OperStatus == IfOperStatusUp;
        facts.running = facts.up;
        facts.loopback = entry->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        facts.wired = entry->IfType == IF_TYPE_ETHERNET_CSMACD;
        // The loopback's MTU is given as "any" (all bits set).
        facts.mtu = entry->Mtu > static_cast<ULONG>(INT_MAX) ? INT_MAX : static_cast<int>(entry->Mtu);
        for (auto* unicast = entry->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* address = unicast->Address.lpSockaddr;
            if (address == nullptr || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) continue;
            // The system's zone of a link-local address: the interface index.
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
            const std::string zone = address->sa_family == AF_INET6 ? std::to_string(v6->sin6_scope_id) : std::string();
            const std::string text = AddressText(address, zone);
            if (address->sa_family == AF_INET) facts.ipv4.push_back(text);
            facts.addresses.push_back(text + "/" + std::to_string(unicast->OnLinkPrefixLength));
        }
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

std::string NameOfIndex(DWORD index) {
    for (const Adapter& adapter : ListAdapters()) {
        if (adapter.index == index) return adapter.facts.name;
    }
    return {};
}

}  // namespace

std::vector<NetworkInterface> ListNetworkInterfaces() {
    std::vector<NetworkInterface> interfaces;
    for (Adapter& adapter : ListAdapters()) interfaces.push_back(std::move(adapter.facts));
    return interfaces;
}

std::string RouteInterfaceTowards(const std::string& address) {
    IN_ADDR target{};
    {
        const SocketsInUse sockets;
        if (::inet_pton(AF_INET, address.c_str(), &target) != 1) return {};
    }
    DWORD index = 0;
    if (::GetBestInterface(target.S_un.S_addr, &index) != NO_ERROR) return {};
    return NameOfIndex(index);
}

std::string DefaultRouteInterface() {
    MIB_IPFORWARDROW route{};
    // The best route to 0.0.0.0 can only be a default route (mask 0); anything else is none.
    if (::GetBestRoute(0, 0, &route) != NO_ERROR || route.dwForwardDest != 0 || route.dwForwardMask != 0) return {};
    return NameOfIndex(route.dwForwardIfIndex);
}

}  // namespace kbr::platform
