// kbr3300-talk: a short scripted exchange with a device (or the simulator), printing every
// request and reply. For developers checking a device or the simulator by hand:
//   kbr3300-talk ADDRESS PORT [PASSWORD]
// Every text the device sent is printed escaped (PrintableText): a device cannot drive the
// terminal.

#include <cstdio>
#include <string>
#include <vector>

#include "link/DeviceLink.h"
#include "link/Messages.h"
#include "link/PrintableText.h"
#include "platform/Socket.h"

namespace {

std::string Hex(const kbr::Bytes& bytes, size_t limit = 24) {
    std::string text;
    char two[4];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(two, sizeof two, "%02X ", bytes[i]);
        text += two;
    }
    if (bytes.size() > limit) text += "...";
    return text;
}

std::string Describe(uint8_t type) {
    const char* name = kbr::MessageTypeName(type);
    return name ? name : "type " + std::to_string(type);
}

// One request, one reply: the protocol has no framing beyond "one read is one message".
bool Exchange(kbr::DeviceLink& link, const kbr::Bytes& request, kbr::Bytes& reply) {
    std::printf("> %-18s %3zu bytes  %s\n", Describe(request[0]).c_str(), request.size(), Hex(request).c_str());
    if (link.Send(request.data(), static_cast<int>(request.size()), kbr::DeviceLink::NO_TIME_LIMIT) !=
        static_cast<int>(request.size())) {
        std::printf("  send failed\n");
        return false;
    }
    reply.assign(kbr::RECEIVE_BUFFER_SIZE, 0);
    int n = link.Receive(reply.data(), static_cast<int>(reply.size()), 5000);
    if (n <= 0) {
        std::printf("  %s\n", n == 0 ? "no reply within 5 s" : "connection closed");
        return false;
    }
    reply.resize(static_cast<size_t>(n));
    const auto header = kbr::ReadReplyHeader(reply);
    if (!header) {
        std::printf("< malformed reply: %s\n", kbr::PrintableText(header.error).c_str());
        return false;
    }
    std::printf("< %-18s %3zu bytes  status %u, firmware %s\n", Describe(header->type).c_str(), reply.size(),
                header->status, kbr::VersionText(header->version).c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kbr3300-talk ADDRESS PORT [PASSWORD]\n");
        return 2;
    }
    const std::string password = argc > 3 ? argv[3] : "";
    // Version 1.1, as the configuration program starts them.
    if (!kbr::platform::StartSockets(1, 1).started) {
        std::fprintf(stderr, "cannot start the system's sockets\n");
        return 1;
    }
    kbr::DeviceLink link;
    if (!link.Open(argv[1], argv[2])) {
        std::fprintf(stderr, "cannot connect to %s:%s\n", argv[1], argv[2]);
        return 1;
    }
    std::printf("connected to %s:%s\n", argv[1], argv[2]);
    kbr::Bytes reply;
    bool ok = Exchange(link, kbr::BuildLoginRequest(password), reply);
    for (auto key : {kbr::KEY_PRODUCT_ID, kbr::KEY_FIRMWARE_VERSION}) {
        if (ok && (ok = Exchange(link, kbr::BuildGetValueRequest(key), reply))) {
            if (auto value = kbr::ReadValueReply(reply)) {
                std::printf("  %s = \"%s\"\n", key.data(), kbr::PrintableText(*value).c_str());
            }
        }
    }
    if (ok && (ok = Exchange(link, kbr::BuildGetConfigRequest(), reply))) {
        const auto config = kbr::ReadConfigReply(reply);
        for (const auto& entry : config->entries) {
            const std::string name = kbr::PrintableText(entry.name);
            if (entry.width == 4) {
                std::printf("  %-13s A=%s B=%s\n", name.c_str(),
                            kbr::SignedDecimal(kbr::DecodeNumber(entry.valueA)).c_str(),
                            kbr::SignedDecimal(kbr::DecodeNumber(entry.valueB)).c_str());
            } else {
                std::printf("  %-13s A=\"%s\" B=\"%s\"\n", name.c_str(),
                            kbr::PrintableText(kbr::DecodeText(entry.valueA)).c_str(),
                            kbr::PrintableText(kbr::DecodeText(entry.valueB)).c_str());
            }
        }
        if (!config) std::printf("  configuration cut short: %s\n", kbr::PrintableText(config.error).c_str());
    }
    if (ok && (ok = Exchange(link, kbr::BuildGetDiagRequest(), reply))) {
        if (auto texts = kbr::ReadDiagReply(reply)) {
            std::printf("  diagnostics: \"%s\" / \"%s\"\n", kbr::PrintableText(texts->first).c_str(),
                        kbr::PrintableText(texts->second).c_str());
        }
    }
    link.Stop();
    return ok ? 0 : 1;
}
