#pragma once
// A real image file in a scratch folder, and what loading a path showed: the causes of file
// errors provoked on a real file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devtools/image/ImageBuilder.h"
#include "link/UpgradeImage.h"
#include "testkit/ScratchFolder.h"

namespace kbr::test {

// What one load showed. File errors must show exactly one message.
inline std::vector<std::string> MessagesOfLoad(const std::string& path) {
    std::vector<std::string> shown;
    const auto section = LoadImageSection(path, 1, [&](const std::string& m) { shown.push_back(m); });
    EXPECT_FALSE(section.has_value());
    return shown;
}

class ProvokedFileErrors : public testing::Test {
protected:
    void SetUp() override {
        image_ = dir_.Write("image.bin", BuildUpgradeImage(StandardImageSpec("KBR3300", "1", "1")).value());
    }
    testkit::ScratchFolder dir_{"kbr-image-"};
    std::string image_;
};

using Messages = std::vector<std::string>;

}  // namespace kbr::test
