// The PE resource reader against the Windows loader: the page library loads as a data file, and
// every page the reader lists is found by the system under the same name, with the same bytes.
#include "browser/PeResources.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace kbr {
namespace {

class PeResourcesThroughTheLoader : public testing::TestWithParam<const char*> {};

TEST_P(PeResourcesThroughTheLoader, EveryListedPageHasTheSameBytes) {
    const char* path = GetParam();
    const auto file = platform::ReadWholeFile(path, 64u << 20);
    ASSERT_EQ(file.error, 0) << path;
    PeResourceReader reader;
    ASSERT_TRUE(reader.Parse(file.bytes)) << reader.Error();
    ASSERT_FALSE(reader.Resources().empty());

    const HMODULE library = ::LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(library, nullptr) << "the loader refuses " << path << ": error " << ::GetLastError();
    for (const PeResource& page : reader.Resources()) {
        // A name of digits only ("1") stays a name: only "#1" would mean resource number 1.
        const HRSRC found = ::FindResourceA(library, page.name.c_str(), MAKEINTRESOURCEA(RT_HTML_TYPE));
        ASSERT_NE(found, nullptr) << page.name;
        const HGLOBAL loaded = ::LoadResource(library, found);
        ASSERT_NE(loaded, nullptr) << page.name;
        const void* bytes = ::LockResource(loaded);
        ASSERT_EQ(::SizeofResource(library, found), page.size) << page.name;
        ASSERT_LE(page.offset + page.size, file.bytes.size()) << page.name;
        EXPECT_EQ(std::memcmp(bytes, file.bytes.data() + page.offset, page.size), 0) << page.name;

        // The language the reader reports is the one the loader finds the page under.
        EXPECT_NE(::FindResourceExA(library, MAKEINTRESOURCEA(RT_HTML_TYPE), page.name.c_str(), page.language), nullptr)
            << page.name << " in language " << page.language;
    }
    ::FreeLibrary(library);
}

INSTANTIATE_TEST_SUITE_P(Libraries, PeResourcesThroughTheLoader, testing::Values(KBR_TEST_PGPACK, KBR_PAGES_PGPACK),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return info.index == 0 ? std::string("TestPages") : std::string("PageSet");
                         });

}  // namespace
}  // namespace kbr
