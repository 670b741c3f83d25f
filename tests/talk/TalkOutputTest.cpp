// kbr3300-talk prints whatever a device sends: none of it may reach the terminal raw.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "link/PrintableText.h"
#include "tools/devsim/DeviceModel.h"
#include "tools/devsim/Server.h"

namespace kbr {
namespace {

struct PrintableCase {
    std::string in;
    size_t limit;
    std::string out;
};

void PrintTo(const PrintableCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.in); }

class Printable : public ::testing::TestWithParam<PrintableCase> {};

TEST_P(Printable, OnlyPrintableAsciiLeavesAsItIs) {
    EXPECT_EQ(PrintableText(GetParam().in, GetParam().limit), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Printable,
    ::testing::Values(PrintableCase{"", 64, ""}, PrintableCase{"KBR3300 1.0.2.3", 64, "KBR3300 1.0.2.3"},
                      PrintableCase{"\x1b[2J\x1b]0;x\x07", 64, R"(\x1b[2J\x1b]0;x\x07)"},
                      PrintableCase{"a\r\nb\tc", 64, R"(a\x0d\x0ab\x09c)"},
                      PrintableCase{std::string("n\0l", 3), 64, R"(n\x00l)"},
                      PrintableCase{"\x7f\x9b" "caf\xc3\xa9", 64, R"(\x7f\x9bcaf\xc3\xa9)"},
                      PrintableCase{R"(back\slash 'q' "d")", 64, R"(back\\slash \'q\' \"d\")"},
                      PrintableCase{"abcdef", 4, "abcd..."}, PrintableCase{"abcd", 4, "abcd"},
                      PrintableCase{"\x1b\x1b", 1, R"(\x1b...)"}));

std::string RunTalk(uint16_t port, int& status) {
    const std::string command = std::string("'") + KBR_TALK_PATH + "' 127.0.0.1 " + std::to_string(port) + " admin";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string out;
    if (!pipe) return out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
    status = ::pclose(pipe.release());
    return out;
}

// A device whose product id, firmware text and passwords carry terminal controls (a title
// change, a screen clear, a bell, an 8-bit CSI).
TEST(TalkOutput, DeviceTextIsPrintedEscaped) {
    devsim::DeviceIdentity identity;
    identity.productId = "\x1b]0;pwned\x07KBR";
    identity.firmware.text = "1.0\x1b[2J";
    devsim::DeviceSettings settings;
    settings.admPswd = "admin";
    settings.password = "\r\x1b[Knet\x9b" "5m";
    devsim::DeviceModel device(identity, settings);
    devsim::Server server(device, {});
    std::string error;
    ASSERT_TRUE(server.Listen("127.0.0.1:0", &error)) << error;
    std::thread loop([&] { server.Run(); });
    int status = -1;
    const std::string out = RunTalk(server.Port(), status);
    server.Stop();
    loop.join();

    EXPECT_EQ(status, 0) << out;
    for (const char c : out) {
        const auto byte = static_cast<unsigned char>(c);
        ASSERT_TRUE(c == '\n' || (byte >= 0x20 && byte < 0x7F)) << "raw byte " << int{byte} << " in:\n" << out;
    }
    EXPECT_NE(out.find(R"(c:prod_id = "\x1b]0;pwned\x07KBR")"), std::string::npos) << out;
    EXPECT_NE(out.find(R"(a:version = "1.0\x1b[2J")"), std::string::npos) << out;
    EXPECT_NE(out.find(R"(B="\x0d\x1b[Knet\x9b5m")"), std::string::npos) << out;
}

}  // namespace
}  // namespace kbr
