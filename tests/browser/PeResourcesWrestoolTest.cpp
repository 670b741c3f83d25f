// The PE resource reader against wrestool (icoutils): the same names and the same bytes.
#include "browser/PeResources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace kbr {
namespace {

std::string RunCommand(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    if (!pipe) return out;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
    return out;
}

TEST(PeResources, NamesAndBytesMatchWrestool) {
    const auto file = platform::ReadWholeFile(KBR_TEST_PGPACK, 64u << 20);
    ASSERT_EQ(file.error, 0) << KBR_TEST_PGPACK;
    const std::vector<uint8_t>& bytes = file.bytes;
    PeResourceReader reader;
    ASSERT_TRUE(reader.Parse(bytes)) << reader.Error();
    ASSERT_FALSE(reader.Resources().empty());

    // wrestool lists lines such as: --type=23 --name='INDEX.HTML' --language=1033 [offset=0x3108 size=30]
    const std::string listing = RunCommand("wrestool -l --type=23 '" + std::string(KBR_TEST_PGPACK) + "'");
    std::vector<std::string> listed;
    for (size_t at = listing.find("--name='"); at != std::string::npos; at = listing.find("--name='", at)) {
        at += 8;
        listed.push_back(listing.substr(at, listing.find('\'', at) - at));
    }
    std::vector<std::string> ours;
    for (const PeResource& res : reader.Resources()) ours.push_back(res.name);
    std::sort(listed.begin(), listed.end());
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(ours, listed);

    for (const PeResource& res : reader.Resources()) {
        const std::string extracted =
            RunCommand("wrestool -x --raw --type=23 --name='" + res.name + "' '" + std::string(KBR_TEST_PGPACK) + "'");
        const std::string mine(reinterpret_cast<const char*>(bytes.data() + res.offset), res.size);
        EXPECT_EQ(mine, extracted) << res.name;
        EXPECT_EQ(res.language, 1033) << res.name;
    }
}

}  // namespace
}  // namespace kbr
