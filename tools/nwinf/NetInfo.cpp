#include "tools/nwinf/NetInfo.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QUdpSocket>

#include <algorithm>
#include <sstream>

#include "platform/SafeFile.h"

namespace kbr::nwinf {

namespace {

bool IsLinkLocal(std::string_view address) { return address.substr(0, 8) == "169.254."; }

bool Counts(const InterfaceFacts& facts) { return facts.up && facts.running && !facts.loopback && !facts.ipv4.empty(); }

bool HasRoutable(const InterfaceFacts& facts) {
    return std::any_of(facts.ipv4.begin(), facts.ipv4.end(), [](const std::string& a) { return !IsLinkLocal(a); });
}

std::string BestAddress(const InterfaceFacts& facts) {
    for (const auto& address : facts.ipv4) {
        if (!IsLinkLocal(address)) return address;
    }
    return facts.ipv4.front();
}

const InterfaceFacts* Primary(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRoute) {
    const InterfaceFacts* best = nullptr;
    for (const auto& facts : interfaces) {
        if (!Counts(facts)) continue;
        if (!defaultRoute.empty() && facts.name == defaultRoute) return &facts;
        if (!best || (!HasRoutable(*best) && HasRoutable(facts))) best = &facts;
    }
    return best;
}

}  // namespace

std::vector<InterfaceFacts> CollectInterfaces() {
    std::vector<InterfaceFacts> result;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        InterfaceFacts facts;
        facts.name = interface.name().toStdString();
        facts.hardwareAddress = interface.hardwareAddress().toStdString();
        const auto flags = interface.flags();
        facts.up = flags.testFlag(QNetworkInterface::IsUp);
        facts.running = flags.testFlag(QNetworkInterface::IsRunning);
        facts.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
        facts.mtu = interface.maximumTransmissionUnit();
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol) facts.ipv4.push_back(ip.toString().toStdString());
            facts.other.push_back(ip.toString().toStdString() + "/" + std::to_string(entry.prefixLength()));
        }
        result.push_back(std::move(facts));
    }
    return result;
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

std::string DefaultRouteInterface() {
#ifdef Q_OS_LINUX
    QFile table(QStringLiteral("/proc/net/route"));
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    // The table is small; a bound keeps a strange file from costing much.
    const QByteArray text = table.read(1 << 20);
    return DefaultRouteInterfaceFromTable(std::string_view(text.constData(), static_cast<size_t>(text.size())));
#else
    return {};
#endif
}

std::string PrimaryIPv4(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface) {
    const InterfaceFacts* primary = Primary(interfaces, defaultRouteInterface);
    return primary ? BestAddress(*primary) : std::string(NO_ADDRESS);
}

std::string PrimaryInterface(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface) {
    const InterfaceFacts* primary = Primary(interfaces, defaultRouteInterface);
    return primary ? primary->name : std::string();
}

std::string AdaptorInterface(const std::vector<InterfaceFacts>& interfaces, std::string_view routeSource) {
    std::string first;
    for (const auto& facts : interfaces) {
        if (!Counts(facts)) continue;
        for (const auto& address : facts.ipv4) {
            if (address.rfind("192.168.0.", 0) != 0) continue;
            // A home network may use 192.168.0.x too: the route to the adaptor decides.
            if (address == routeSource) return facts.name;
            if (first.empty()) first = facts.name;
        }
    }
    return first;
}

std::string SourceAddressTowards(const std::string& address) {
    // Connecting a datagram socket only chooses the route; nothing is sent.
    QUdpSocket socket;
    socket.connectToHost(QHostAddress(QString::fromStdString(address)), 9);
    if (!socket.waitForConnected(1000)) return {};
    const QHostAddress local = socket.localAddress();
    return local.protocol() == QAbstractSocket::IPv4Protocol ? local.toString().toStdString() : std::string();
}

std::string AddressOf(const std::vector<InterfaceFacts>& interfaces, std::string_view name) {
    for (const auto& facts : interfaces) {
        if (facts.name == name && Counts(facts)) return BestAddress(facts);
    }
    return NO_ADDRESS;
}

std::string RenewalLine(const RenewalStatus& status) {
    switch (status.state) {
        case RenewalStatus::State::None:
            return "renewal=none";
        case RenewalStatus::State::Skipped:
            return "renewal=skipped";
        case RenewalStatus::State::Renewed:
            return "renewal=ok";
        case RenewalStatus::State::Failed: {
            std::string reason;
            for (char c : status.reason) reason += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
            return "renewal=failed reason=" + reason;
        }
    }
    return "renewal=none";
}

std::string FormatIpInfo(std::string_view address, const RenewalStatus& renewal) {
    // The reason stays in nicinfo.tmp and the log: the address file holds only what the verdict reads.
    const std::string line =
        renewal.state == RenewalStatus::State::Failed ? std::string("renewal=failed") : RenewalLine(renewal);
    return std::string(address) + "\n" + line + "\n";
}

std::string RecordedAdaptorInterface(std::string_view nicinfo) {
    std::istringstream lines{std::string(nicinfo)};
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(ADAPTOR_INTERFACE_KEY, 0) != 0) continue;
        const std::string name = line.substr(std::string_view(ADAPTOR_INTERFACE_KEY).size());
        // An interface name, nothing that could pass for an option or a path.
        if (name.empty() || name.size() > 15 || name[0] == '-' || name.find_first_of("/: \t") != std::string::npos) {
            return {};
        }
        return name;
    }
    return {};
}

std::string FormatNicInfo(const std::vector<InterfaceFacts>& interfaces, std::string_view defaultRouteInterface,
                          std::string_view adaptorInterface, const RenewalStatus& renewal) {
    std::ostringstream out;
    if (!adaptorInterface.empty()) out << ADAPTOR_INTERFACE_KEY << adaptorInterface << "\n";
    out << RenewalLine(renewal) << "\n\n";
    for (const auto& facts : interfaces) {
        out << "[" << facts.name << "]\n";
        out << "hardware=" << facts.hardwareAddress << "\n";
        out << "up=" << (facts.up ? 1 : 0) << " running=" << (facts.running ? 1 : 0)
            << " loopback=" << (facts.loopback ? 1 : 0) << " mtu=" << facts.mtu << "\n";
        out << "default_route=" << (facts.name == defaultRouteInterface ? 1 : 0) << "\n";
        for (const auto& address : facts.other) out << "address=" << address << "\n";
        out << "\n";
    }
    return out.str();
}

bool WriteFileWhole(const std::string& directory, const std::string& name, std::string_view content) {
    return platform::ReplaceFile(directory, name, content);
}

std::optional<Options> ParseArguments(const std::vector<std::string>& arguments) {
    Options options;
    constexpr std::string_view RENEW_COMMAND = "--renew-command=";
    for (const auto& argument : arguments) {
        if (argument == "1" || argument == "2") {
            if (options.mode != 0) return std::nullopt;
            options.mode = argument[0] - '0';
        } else if (argument == "--no-renew") {
            options.renew = false;
        } else if (argument.rfind(RENEW_COMMAND, 0) == 0 && argument.size() > RENEW_COMMAND.size()) {
            options.renewCommand = argument.substr(RENEW_COMMAND.size());
        } else {
            return std::nullopt;
        }
    }
    if (options.mode == 0) return std::nullopt;
    return options;
}

}  // namespace kbr::nwinf
