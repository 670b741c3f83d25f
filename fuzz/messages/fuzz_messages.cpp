// Every message reader over any bytes. Besides the sanitizers' checks: whatever a reader decodes
// whole, the matching builder writes again, and reading that back gives the same fields, so that
// the builders and the readers keep to one layout.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "link/ConfigEntry.h"
#include "link/Messages.h"

using namespace kbr;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool SameEntries(const std::vector<ConfigEntry>& a, const std::vector<ConfigEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ConfigEntry& x, const ConfigEntry& y) {
        return x.name == y.name && x.width == y.width && x.valueA == y.valueA && x.valueB == y.valueB;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);

    if (const auto header = ReadReplyHeader(input)) {
        Check(header.length == MESSAGE_HEADER_SIZE);
        Check(IsAcceptedReply(input, header->type) == (header->status == 0));
        const auto back = ReadReplyHeader(BuildReply(header->type, header->version, header->status, header->param));
        Check(back && back->type == header->type && back->version == header->version &&
              back->status == header->status && back->param == header->param);
    }
    (void)ExpectedReplyType(input);

    if (const auto value = ReadValueReply(input)) {
        Check(value->find('\0') == std::string::npos);
        Check(ReadValueReply(BuildValueReply({}, 0, *value)).value == *value);
    }
    if (const auto texts = ReadDiagReply(input)) {
        // The builder keeps each text's zero inside its field, so a full field comes back one short.
        const auto back = ReadDiagReply(BuildDiagReply({}, 0, texts->first, texts->second));
        Check(back && back->first == texts->first.substr(0, DIAG_TEXT_FIELD - 1) &&
              back->second == texts->second.substr(0, DIAG_TEXT_FIELD - 1));
    }
    const auto config = ReadConfigReply(input);
    Check(config->entries.size() <= config->header.param);
    if (config) {
        const auto back = ReadConfigReply(BuildConfigReply({}, 0, config->entries));
        Check(back && SameEntries(back->entries, config->entries));
    }

    if (const auto login = ReadLoginRequest(input)) {
        Check(login.length == MESSAGE_HEADER_SIZE + 1 + login->passwordField);
        const auto back = ReadLoginRequest(BuildLoginRequest(login->password));
        Check(back && back->password == login->password.substr(0, LOGIN_PASSWORD_FIELD));
    }
    if (const auto request = ReadSetConfigRequest(input)) {
        const auto back = ReadSetConfigRequest(BuildSetConfigRequest(request->entries));
        Check(back && SameEntries(back->entries, request->entries));
    }
    if (const auto chunk = ReadUpgradeDataRequest(input)) {
        Check(chunk.length == UPGRADE_DATA_REQUEST_SIZE && chunk->size <= UPGRADE_CHUNK_SIZE);
        const auto used = chunk->data.first(chunk->size);
        const Bytes again = BuildUpgradeDataRequest(chunk->remaining, chunk->offset, chunk->size, used);
        const auto back = ReadUpgradeDataRequest(again);
        Check(back && back->remaining == chunk->remaining && back->offset == chunk->offset &&
              back->size == chunk->size && std::equal(used.begin(), used.end(), back->data.begin()));
    }
    if (const auto key = ReadGetValueRequest(input)) {
        Check(ReadGetValueRequest(BuildGetValueRequest(*key)).value == *key);
    }
    return 0;
}
