// The page library reader against files made to exhaust it: many entries that all point at one
// long name. Every allocation of this test program is counted, so a test can show how much memory
// one parse took.
#include "browser/PageLibrary.h"
#include "browser/PeResources.h"
#include "testkit/ScratchFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

namespace {
std::atomic<size_t> g_allocated{0};
}  // namespace

void* operator new(size_t size) {
    g_allocated += size;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace kbr {
namespace {

void PutU16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    PutU16(out, at, v & 0xFFFF);
    PutU16(out, at + 2, v >> 16);
}

// A PE32+ file with one resource section: type 23 holding `entries` named resources that all
// use the same name of `units` UTF-16 units (U+4E00, three bytes each in UTF-8) and the same
// 4-byte data.
std::vector<uint8_t> SharedNameLibrary(uint32_t entries, uint16_t units) {
    constexpr size_t SECTION_AT = 0x200, RVA = 0x1000, OPTIONAL_HEADER = 0x58;
    const size_t nameDirectory = 24;
    const size_t dataEntry = nameDirectory + 16 + 8 * size_t{entries};
    const size_t name = dataEntry + 16;
    const size_t payload = name + 2 + 2 * size_t{units};
    const size_t areaSize = payload + 4;

    std::vector<uint8_t> f(SECTION_AT + areaSize, 0);
    f[0] = 'M';
    f[1] = 'Z';
    PutU32(f, 0x3C, 0x40);
    f[0x40] = 'P';
    f[0x41] = 'E';
    PutU16(f, 0x44, 0x8664);  // machine
    PutU16(f, 0x46, 1);       // sections
    PutU16(f, 0x54, 240);     // optional header size
    PutU16(f, OPTIONAL_HEADER, 0x20B);
    PutU32(f, OPTIONAL_HEADER + 108, 16);  // data directories
    PutU32(f, OPTIONAL_HEADER + 128, RVA);
    PutU32(f, OPTIONAL_HEADER + 132, static_cast<uint32_t>(areaSize));
    const size_t section = OPTIONAL_HEADER + 240;
    PutU32(f, section + 8, static_cast<uint32_t>(areaSize));
    PutU32(f, section + 12, RVA);
    PutU32(f, section + 16, static_cast<uint32_t>(areaSize));
    PutU32(f, section + 20, SECTION_AT);

    const auto area = [&](size_t offset) { return SECTION_AT + offset; };
    PutU16(f, area(14), 1);  // root: one id entry
    PutU32(f, area(16), RT_HTML_TYPE);
    PutU32(f, area(20), 0x80000000u | nameDirectory);
    PutU16(f, area(nameDirectory + 12), static_cast<uint16_t>(entries));  // named entries (low 16 bits)
    for (size_t i = 0; i < entries; ++i) {
        PutU32(f, area(nameDirectory + 16 + 8 * i), 0x80000000u | static_cast<uint32_t>(name));
        PutU32(f, area(nameDirectory + 20 + 8 * i), static_cast<uint32_t>(dataEntry));
    }
    PutU32(f, area(dataEntry), static_cast<uint32_t>(RVA + payload));
    PutU32(f, area(dataEntry + 4), 4);
    PutU16(f, area(name), units);
    for (size_t i = 0; i < units; ++i) PutU16(f, area(name + 2 + 2 * i), 0x4E00);
    return f;
}

struct LimitCase {
    const char* what;
    uint32_t entries;
    uint16_t units;
    bool accepted;
    const char* error;  // part of the error when refused
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.what; }

class PeResourceLimits : public ::testing::TestWithParam<LimitCase> {};

// The first row is the reported file (every entry claims a 65,535-unit name, all share one
// string): it used to take over 13 GB and many seconds. Now no parse takes more memory than a
// small multiple of the file, whatever the file claims.
TEST_P(PeResourceLimits, OneParseTakesMemoryInProportionToTheFile) {
    const LimitCase& c = GetParam();
    const std::vector<uint8_t> file = SharedNameLibrary(c.entries, c.units);
    PeResourceReader reader;
    const size_t before = g_allocated;
    const bool parsed = reader.Parse(file);
    const size_t allocated = g_allocated - before;

    EXPECT_LE(allocated, 8 * file.size() + 64 * 1024) << c.what << ": " << file.size() << " bytes of file";
    ASSERT_EQ(parsed, c.accepted) << c.what << ": " << reader.Error();
    if (parsed) {
        ASSERT_EQ(reader.Resources().size(), c.entries);
        EXPECT_EQ(reader.Resources()[0].name.size(), 3u * c.units);
    } else {
        EXPECT_NE(reader.Error().find(c.error), std::string::npos) << reader.Error();
        EXPECT_TRUE(reader.Resources().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, PeResourceLimits,
    ::testing::Values(LimitCase{"65535 entries, 65535-unit names", 65535, 65535, false, "65535 units"},
                      LimitCase{"one name of 256 units", 1, 256, false, "256 units"},
                      LimitCase{"60000 entries sharing a 255-unit name", 60000, 255, false, "more room"},
                      LimitCase{"one name of 255 units", 1, 255, true, ""},
                      LimitCase{"8 entries sharing a 16-unit name", 8, 16, true, ""}));

// A loaded library is read and parsed once: later requests use what was read, without reading
// or allocating again, even when the file changes meanwhile.
TEST(LoadedPageLibrary, IsParsedOnceNotPerRequest) {
    const testkit::ScratchFolder scratch("kbr-once-");
    const std::filesystem::path path = scratch.File("PgPack.dll");
    const std::vector<uint8_t> file = SharedNameLibrary(2, 4);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    PageLibrary library;
    ASSERT_TRUE(library.Load(path)) << library.Error();
    const std::string name = library.Names().at(0);

    std::filesystem::resize_file(path, 0);
    for (int request = 0; request < 3; ++request) {
        const size_t before = g_allocated;
        const auto bytes = library.Find(name);
        EXPECT_EQ(g_allocated - before, 0u) << "a request allocated (the library was read again)";
        ASSERT_TRUE(bytes);
        EXPECT_EQ(std::string(bytes->begin(), bytes->end()), std::string(4, '\0'));
    }
}

}  // namespace
}  // namespace kbr
