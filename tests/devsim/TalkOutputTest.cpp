// kbr3300-talk prints whatever a device sends: none of it may reach the terminal raw. The
// escaping is the one the simulator's log uses too (PrintableText).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "link/PrintableText.h"
#include "platform/ChildProcess.h"
#include "testkit/DevsimHarness.h"

namespace kbr::devsim::test {
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

INSTANTIATE_TEST_SUITE_P(Table, Printable,
                         ::testing::Values(PrintableCase{"", 64, ""},
                                           PrintableCase{"KBR3300 1.0.2.3", 64, "KBR3300 1.0.2.3"},
                                           PrintableCase{"\x1b[2J\x1b]0;x\x07", 64, R"(\x1b[2J\x1b]0;x\x07)"},
                                           PrintableCase{"a\r\nb\tc", 64, R"(a\x0d\x0ab\x09c)"},
                                           PrintableCase{std::string("n\0l", 3), 64, R"(n\x00l)"},
                                           PrintableCase{"\x7f\x9b"
                                                         "caf\xc3\xa9",
                                                         64, R"(\x7f\x9bcaf\xc3\xa9)"},
                                           PrintableCase{R"(back\slash 'q' "d")", 64, R"(back\\slash \'q\' \"d\")"},
                                           PrintableCase{"abcdef", 4, "abcd..."}, PrintableCase{"abcd", 4, "abcd"},
                                           PrintableCase{"\x1b\x1b", 1, R"(\x1b...)"}));

// A device whose product id, firmware text and passwords carry terminal controls (a title
// change, a screen clear, a bell, an 8-bit CSI).
TEST(TalkOutput, DeviceTextIsPrintedEscaped) {
    ScratchDir dir;
    const std::string state = dir.File("hostile.state");
    std::ofstream(state) << "admPswd=admin\n"
                            "password=%0D%1B[Knet%9B5m\n"
                            "firmwareVersion=1.0.2.3\n"
                            "firmwareText=1.0%1B[2J\n";
    DevsimProcess device;
    std::string error;
    ASSERT_TRUE(device.Start({"--product-id", "\x1b]0;pwned\x07KBR", "--state", state}, &error)) << error;
    const platform::ProgramRun run =
        platform::RunProgram(KBR_TALK_PATH, {"127.0.0.1", std::to_string(device.Port()), "admin"}, 30000);
    const std::string& out = run.output;
    EXPECT_EQ(run.exitCode, 0) << out << run.errors;
    for (const char c : out) {
        const auto byte = static_cast<unsigned char>(c);
        ASSERT_TRUE(c == '\n' || c == '\r' || (byte >= 0x20 && byte < 0x7F)) << "raw byte " << int{byte} << " in:\n"
                                                                             << out;
    }
    EXPECT_NE(out.find(R"(c:prod_id = "\x1b]0;pwned\x07KBR")"), std::string::npos) << out;
    EXPECT_NE(out.find(R"(a:version = "1.0\x1b[2J")"), std::string::npos) << out;
    EXPECT_NE(out.find(R"(B="\x0d\x1b[Knet\x9b5m")"), std::string::npos) << out;
    EXPECT_EQ(device.Stop(), 0) << device.Stderr();
}

}  // namespace
}  // namespace kbr::devsim::test
