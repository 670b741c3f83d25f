// Every request the program sends, built here and compared byte for byte with one table that the
// Linux and the Windows builds share (request_bytes.txt): both systems send the same bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/HexText.h"
#include "link/ConfigEntry.h"
#include "link/Messages.h"

namespace kbr {
namespace {

std::string Hex(std::span<const uint8_t> bytes) { return test::HexText(bytes); }

// "name hexbytes" per line; '#' starts a comment line.
std::map<std::string, std::string> ReadTable() {
    std::map<std::string, std::string> table;
    std::ifstream in(KBR_REQUEST_TABLE);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, hex;
        fields >> name >> hex;
        table[name] = hex;
    }
    return table;
}

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

// The six settable parameters as the configuration write sends them.
std::vector<ConfigEntry> SettableEntries() {
    return {MakeNumberEntry("DiplexerMode", 0, 1),
            MakeTextEntry("admPswd", "admin", "n3w p%s", 8),
            MakeNumberEntry("SwConfig", 0, 0x12345678),
            MakeNumberEntry("channelMask", 0, 0x15554000),
            MakeTextEntry("password", "", "99999999999", 17),
            MakeNumberEntry("scanMask", 0, 0xFFFFFFFFu)};
}

const std::vector<std::pair<std::string, std::function<Bytes()>>>& Requests() {
    static const std::vector<std::pair<std::string, std::function<Bytes()>>> requests = {
        {"login", [] { return BuildLoginRequest("admin"); }},
        {"login_empty", [] { return BuildLoginRequest(""); }},
        {"login_longer_than_eight", [] { return BuildLoginRequest("0123456789"); }},
        {"get_config", [] { return BuildGetConfigRequest(); }},
        {"set_config_settable",
         [] {
             const auto entries = SettableEntries();
             return BuildSetConfigRequest(entries);
         }},
        {"set_config_none", [] { return BuildSetConfigRequest({}); }},
        {"get_diag", [] { return BuildGetDiagRequest(); }},
        {"upgrade_start", [] { return BuildUpgradeStartRequest(); }},
        {"upgrade_data_full",
         [] {
             const Bytes data = Pattern(256);
             return BuildUpgradeDataRequest(3, 512, 256, data);
         }},
        {"upgrade_data_last_short",
         [] {
             const Bytes data = Pattern(5);
             return BuildUpgradeDataRequest(0, 0x12345, 5, data);
         }},
        {"action", [] { return BuildActionRequest(); }},
        {"get_value_product_id", [] { return BuildGetValueRequest(KEY_PRODUCT_ID); }},
        {"get_value_firmware_version", [] { return BuildGetValueRequest(KEY_FIRMWARE_VERSION); }},
    };
    return requests;
}

TEST(RequestBytes, EveryRequestMatchesTheSharedTable) {
    const auto table = ReadTable();
    ASSERT_FALSE(table.empty()) << "cannot read " << KBR_REQUEST_TABLE;
    for (const auto& [name, build] : Requests()) {
        const auto expected = table.find(name);
        const std::string built = Hex(build());
        ASSERT_NE(expected, table.end()) << "not in the table: " << name << " " << built;
        EXPECT_EQ(built, expected->second) << name;
    }
    EXPECT_EQ(table.size(), Requests().size()) << "the table names requests this test does not build";
}

}  // namespace
}  // namespace kbr
