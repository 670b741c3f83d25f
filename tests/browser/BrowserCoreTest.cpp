// The plain parts of the browser host: app: URL parse, script string escaping, the PE resource
// reader (checked against other readers beside: wrestool on Linux, the loader on Windows) and the
// page library lookup; the start-up trace that the start-up benchmark reads.
#include "browser/AppCommand.h"
#include "browser/PageLibrary.h"
#include "browser/PeResources.h"
#include "browser/ScriptText.h"
#include "browser/StartupTrace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "testkit/ScratchFolder.h"

namespace kbr {
namespace {

struct ParseCase {
    const char* url;
    bool intercepted;
    int32_t code;
    const char* argument;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.url << '"'; }

class AppUrlParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(AppUrlParse, MatchesAndParsesAsTheHostDoes) {
    const ParseCase& c = GetParam();
    const auto rest = MatchAppUrl(c.url);
    ASSERT_EQ(rest.has_value(), c.intercepted) << c.url;
    if (!rest) return;
    const AppCommand command = ParseAppCommand(*rest);
    EXPECT_EQ(command.code, c.code) << c.url;
    EXPECT_EQ(command.argument, c.argument) << c.url;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AppUrlParse,
    ::testing::Values(ParseCase{"app:1000@", true, 1000, ""}, ParseCase{"app:1000", true, 1000, " "},
                      ParseCase{"APP:1003@0:abc", true, 1003, "0:abc"},
                      ParseCase{"aPp:1003@0:abc", true, 1003, "0:abc"},
                      ParseCase{"app:1001@825@625", true, 1001, "825@625"}, ParseCase{"app:", true, 0, " "},
                      ParseCase{"app:x@y", true, 0, "y"}, ParseCase{"app: \t-12@z", true, -12, "z"},
                      ParseCase{"app:+7@", true, 7, ""}, ParseCase{"app:1008@A,B%20C", true, 1008, "A,B%20C"},
                      ParseCase{"app:99999999999999@x", true, 2147483647, "x"},
                      ParseCase{"app:-99999999999999@x", true, -2147483647 - 1, "x"},
                      ParseCase{"application.html", false, 0, ""},
                      ParseCase{"res://PgPack.dll/index.html", false, 0, ""}, ParseCase{"app", false, 0, ""},
                      ParseCase{"", false, 0, ""}, ParseCase{"ap:1", false, 0, ""}));

struct EscapeCase {
    std::string in;
    std::string out;
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.in); }

class ScriptEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(ScriptEscape, NothingBreaksOutOfTheLiteral) { EXPECT_EQ(JsStringLiteral(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Hostile, ScriptEscape,
    ::testing::Values(EscapeCase{"", R"("")"}, EscapeCase{"plain 1.2.3", R"("plain 1.2.3")"},
                      EscapeCase{"\"); alert(1); (\"", R"("\"); alert(1); (\"")"},
                      EscapeCase{"back\\slash", R"("back\\slash")"}, EscapeCase{"a\nb\rc\td", R"("a\nb\rc\td")"},
                      EscapeCase{"</script><script>x()</script>",
                                 R"("\u003c/script\u003e\u003cscript\u003ex()\u003c/script\u003e")"},
                      EscapeCase{"it's", R"("it\u0027s")"},
                      EscapeCase{"\xE2\x80\xA8|\xE2\x80\xA9", R"("\u2028|\u2029")"},
                      EscapeCase{std::string("nul\0x", 5), R"("nul\u0000x")"}, EscapeCase{"\x7F", R"("\u007f")"},
                      EscapeCase{"caf\xC3\xA9", "\"caf\xC3\xA9\""}, EscapeCase{"bad\xFF\xC3", R"("bad\ufffd\ufffd")"},
                      EscapeCase{"\xC0\xAF", R"("\ufffd\ufffd")"}));

struct FakePathCase {
    const char* text;
    const char* expected;
};

void PrintTo(const FakePathCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class FakePaths : public ::testing::TestWithParam<FakePathCase> {};

// Chosen: "fw image.img" twice (the later choice counts), "fw" and "a.bin".
TEST_P(FakePaths, OnlyTheFileFunctionsGetTheChosenPathBack) {
    const std::vector<ChosenFile> chosen = {{"fw image.img", "/old/fw image.img"},
                                            {"fw", "/tmp/fw"},
                                            {"a.bin", "/data/a.bin"},
                                            {"fw image.img", "/home/u/My Files/fw image.img"}};
    EXPECT_EQ(WithChosenFilePath(GetParam().text, chosen), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FakePaths,
    ::testing::Values(
        // Functions 8 and 14 carry a file path.
        FakePathCase{"1003@8:C:\\fakepath\\fw image.img", "1003@8:/home/u/My Files/fw image.img"},
        FakePathCase{"1003@14:c:\\FAKEPATH\\fw image.img", "1003@14:/home/u/My Files/fw image.img"},
        FakePathCase{"1003@8:D:\\FakePath\\fw", "1003@8:/tmp/fw"},
        FakePathCase{"1003@08:C:\\fakepath\\a.bin", "1003@08:/data/a.bin"},  // the number as the queue reads it
        // Every other command keeps its text, whatever it holds.
        FakePathCase{"1003@5:C:\\fakepath\\fw", "1003@5:C:\\fakepath\\fw"},
        FakePathCase{"1003@0:C:\\fakepath\\fw", "1003@0:C:\\fakepath\\fw"},
        FakePathCase{"1003@C:\\fakepath\\fw", "1003@C:\\fakepath\\fw"},  // "C" is function 0
        FakePathCase{"1004@Setup,C:\\fakepath\\fw", "1004@Setup,C:\\fakepath\\fw"},
        FakePathCase{"2000@C:\\fakepath\\a.bin", "2000@C:\\fakepath\\a.bin"},
        FakePathCase{"1008@8:C:\\fakepath\\fw", "1008@8:C:\\fakepath\\fw"},
        // The argument is the whole name of a chosen file, after the prefix.
        FakePathCase{"1003@8:C:\\fakepath\\other.img", "1003@8:C:\\fakepath\\other.img"},  // not chosen
        FakePathCase{"1003@8:C:\\fakepath\\fw.img", "1003@8:C:\\fakepath\\fw.img"},        // "fw" is only its start
        FakePathCase{"1003@8:C:\\fakepath\\FW", "1003@8:C:\\fakepath\\FW"},                // names are exact
        FakePathCase{"1003@8:x C:\\fakepath\\fw", "1003@8:x C:\\fakepath\\fw"},            // not at the start
        FakePathCase{"1003@8:C:\\fakepath\\", "1003@8:C:\\fakepath\\"},
        FakePathCase{"1003@8:C:/fakepath/fw", "1003@8:C:/fakepath/fw"},
        FakePathCase{"1003@8:1:\\fakepath\\fw", "1003@8:1:\\fakepath\\fw"},
        FakePathCase{"C:\\fakepath", "C:\\fakepath"}, FakePathCase{"", ""},
        FakePathCase{"1003@8:/already/full path", "1003@8:/already/full path"}));

// ---- PE resources --------------------------------------------------------------------------

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PeResources, NamesAreFoundWithoutRegardToCase) {
    PageLibrary library;
    ASSERT_TRUE(library.Load(KBR_TEST_PGPACK)) << library.Error();
    const auto a = library.Find("//Index.html");
    const auto b = library.Find("index.html");
    const auto c = library.Find("INDEX.HTML");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->data(), b->data());
    EXPECT_EQ(a->data(), c->data());
    EXPECT_TRUE(library.Find("img/dot.gif"));
    EXPECT_FALSE(library.Find("missing.html"));
    EXPECT_FALSE(library.Find(""));
    EXPECT_FALSE(library.Find("Index.htm"));
}

// Every prefix of a good file and a set of damaged words: the reader reports an error or a
// result, never reads outside the bytes (run under the asan preset to see it).
TEST(PeResources, DamagedFilesAreReportedNotRead) {
    const auto good = ReadFile(KBR_TEST_PGPACK);
    PeResourceReader reader;
    size_t failures = 0;
    for (size_t length = 0; length < good.size(); length += (length < 1024 ? 1 : 97)) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        if (!reader.Parse(cut)) {
            ++failures;
            EXPECT_FALSE(reader.Error().empty());
        }
        for (const PeResource& res : reader.Resources()) EXPECT_LE(res.offset + res.size, cut.size());
    }
    EXPECT_GT(failures, 0u);
    for (size_t at = 0; at + 4 <= good.size(); at += 2) {
        for (uint32_t word : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0u}) {
            std::vector<uint8_t> bad = good;
            for (int k = 0; k < 4; ++k) bad[at + k] = static_cast<uint8_t>(word >> (8 * k));
            if (reader.Parse(bad)) {
                for (const PeResource& res : reader.Resources()) EXPECT_LE(res.offset + res.size, bad.size());
            }
        }
    }
    EXPECT_FALSE(reader.Parse(std::vector<uint8_t>{'M', 'Z'}));
    EXPECT_FALSE(reader.Parse(std::vector<uint8_t>{}));
    PageLibrary library;
    const testkit::ScratchFolder scratch("kbr-damaged-");
    const std::filesystem::path path = scratch.File("PgPack.dll");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(good.data()), 200);
    }
    EXPECT_FALSE(library.Load(path));
    EXPECT_FALSE(library.Find("index.html"));
}

TEST(PageLibraryLookup, FileNameIgnoresCaseAndMimeFollowsTheExtension) {
    const testkit::ScratchFolder scratch("kbr-lookup-");
    const std::filesystem::path dir = scratch.Path();
    EXPECT_FALSE(FindFileIgnoringCase(dir, "PgPack.DLL"));
    std::ofstream(dir / "pgpack.DLL") << "x";
    const auto found = FindFileIgnoringCase(dir, "PgPack.DLL");
    ASSERT_TRUE(found);
    // The file itself (on a file system that ignores case, under the name asked for).
    EXPECT_TRUE(std::filesystem::equivalent(*found, dir / "pgpack.DLL"));

    const std::pair<const char*, const char*> MIME_TYPES[] = {
        {"Index.html", "text/html"},
        {"ECB.JS", "text/javascript"},
        {"STYLE.CSS", "text/css"},
        {"IMG/DOT.GIF", "image/gif"},
        {"BREBOOT.PNG", "image/png"},
        // The data scripts of the page set have no extension and are loaded with <script src>.
        {"1", "text/javascript"},
        {"2", "text/javascript"},
        {"3", "text/javascript"},
        {"1D", "text/javascript"},
        {"1P", "text/javascript"},
        {"//1P", "text/javascript"},
        {"data.d/1", "text/javascript"},
        {"img.d/dot.gif", "image/gif"},
        {"ARCHIVE.BIN", "application/octet-stream"},
        {"x.", "application/octet-stream"},
    };
    for (const auto& [name, type] : MIME_TYPES) EXPECT_EQ(MimeTypeForName(name), type) << name;
}

// The trace is asked for through the environment; without it (or with "0") nothing at all reaches
// standard error. Each line is what bench/startup parses: "startup-trace: MS STEP".
struct TraceCase {
    const char* value;  // nullptr: not set
    bool writes;
};

class StartupTraceLines : public ::testing::TestWithParam<TraceCase> {};

TEST_P(StartupTraceLines, WrittenOnlyWhenAskedFor) {
    const char* value = GetParam().value;
#ifdef _WIN32
    (void)_putenv_s("KBR_STARTUP_TRACE", value ? value : "");
#else
    if (value) {
        ::setenv("KBR_STARTUP_TRACE", value, 1);
    } else {
        ::unsetenv("KBR_STARTUP_TRACE");
    }
#endif
    ::testing::internal::CaptureStderr();
    StartupTraceBegin();
    StartupTrace("main");
    StartupTrace("first document: load finished");
    const std::string written = ::testing::internal::GetCapturedStderr();
#ifdef _WIN32
    (void)_putenv_s("KBR_STARTUP_TRACE", "");
#else
    ::unsetenv("KBR_STARTUP_TRACE");
#endif
    StartupTraceBegin();
    if (!GetParam().writes) {
        EXPECT_EQ(written, "");
        return;
    }
    const std::regex lines(
        "startup-trace: [0-9]+\\.[0-9] main\n"
        "startup-trace: [0-9]+\\.[0-9] first document: load finished\n");
    EXPECT_TRUE(std::regex_match(written, lines)) << written;
}

INSTANTIATE_TEST_SUITE_P(Environment, StartupTraceLines,
                         ::testing::Values(TraceCase{nullptr, false}, TraceCase{"", false}, TraceCase{"0", false},
                                           TraceCase{"1", true}, TraceCase{"yes", true}));

}  // namespace
}  // namespace kbr
