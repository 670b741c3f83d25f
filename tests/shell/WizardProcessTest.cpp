// LaunchGuard and CloseWizard against real processes: a copy of a small program started under the
// wizard's name. CTest runs this in a private PID namespace, so no other wizard process on the
// machine is seen or ended.
#include "platform/Platform.h"
#include "shell/ConfigApp.h"
#include "shell/ConfigSystemServices.h"
#include "testkit/ScratchFolder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

namespace kbr {
namespace {

// The real system with the boxes counted instead of shown.
class CountedBoxes : public ConfigSystemServices {
public:
    int ShowBox(const MessageBoxRequest&) override { return ++boxes, ANSWER_OK; }
    int boxes = 0;
};

class WizardProcess : public ::testing::TestWithParam<const char*> {};

TEST_P(WizardProcess, GuardFindsItAndCloseWizardEndsIt) {
    CountedBoxes services;
    const int& boxes = services.boxes;
    ConfigApp app(services);

    ASSERT_TRUE(platform::FindProcessesByName(ConfigApp::WIZARD_NAME).empty()) << "not in a private PID namespace";
    EXPECT_FALSE(app.LaunchGuard());
    EXPECT_EQ(boxes, 1);

    const testkit::ScratchFolder scratch("kbr-wizard-");
    const std::filesystem::path dir = scratch.Path();
    const auto dummy = dir / GetParam();
    std::filesystem::copy_file("/bin/sleep", dummy, std::filesystem::copy_options::overwrite_existing);
    platform::StartOptions options;
    const auto started = platform::StartProcess(dummy.string(), {"120"}, options);
    ASSERT_TRUE(started.started) << started.error;

    // The process shows up under its executable name once exec has happened.
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
        seen = !platform::FindProcessesByName(ConfigApp::WIZARD_NAME).empty();
        if (!seen) ::usleep(10000);
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(app.LaunchGuard());
    EXPECT_EQ(boxes, 1);

    app.CloseWizard();
    EXPECT_TRUE(platform::FindProcessesByName(ConfigApp::WIZARD_NAME).empty());
    EXPECT_FALSE(app.LaunchGuard());
}

INSTANTIATE_TEST_SUITE_P(Names, WizardProcess, ::testing::Values("KBR3300_Wizardd", "kbr3300_WIZARDD"));

}  // namespace
}  // namespace kbr

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
