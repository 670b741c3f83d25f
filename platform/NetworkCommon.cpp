// What the network facts of every system share: the texts of addresses, and the reading of a
// Linux route table (plain text, so both builds check it).

#include <sstream>

#include "platform/AddressText.h"
#include "platform/Network.h"

namespace kbr::platform {

std::string AddressText(const sockaddr* address, const std::string& zone) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
        return text;
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    ::inet_ntop(AF_INET6, &v6, text, sizeof text);
    const bool linkLocal = v6.s6_addr[0] == 0xfe && (v6.s6_addr[1] & 0xc0) == 0x80;  // fe80::/10
    return linkLocal ? std::string(text) + "%" + zone : std::string(text);
}

std::string HardwareAddressText(const unsigned char* bytes, size_t length) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        if (i > 0) text += ':';
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 0x0F];
    }
    return text;
}

std::string DefaultRouteInterfaceFromTable(std::string_view routeTable) {
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; hexadecimal fields.
    constexpr unsigned long RTF_UP = 0x1;
    std::istringstream table{std::string(routeTable)};
    std::string line;
    std::string best;
    unsigned long bestMetric = 0;
    bool header = true;
    while (std::getline(table, line)) {
        if (header) {
            header = false;
            if (line.rfind("Iface", 0) != 0) return {};
            continue;
        }
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refCount, use, metric, mask;
        if (!(fields >> name >> destination >> gateway >> flags >> refCount >> use >> metric >> mask)) continue;
        unsigned long flagBits = 0, metricValue = 0, maskValue = 0, destinationValue = 0;
        try {
            destinationValue = std::stoul(destination, nullptr, 16);
            flagBits = std::stoul(flags, nullptr, 16);
            metricValue = std::stoul(metric, nullptr, 10);
            maskValue = std::stoul(mask, nullptr, 16);
        } catch (...) {
            continue;
        }
        if (destinationValue != 0 || maskValue != 0 || !(flagBits & RTF_UP)) continue;
        if (best.empty() || metricValue < bestMetric) {
            best = name;
            bestMetric = metricValue;
        }
    }
    return best;
}

}  // namespace kbr::platform
