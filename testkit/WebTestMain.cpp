// Entry of the WebEngine tests: the engine is prepared (res scheme, --no-sandbox only as root)
// before the application object, and pages run offscreen unless a display platform is chosen.
// Each test's page library is the one its FakeHostServices serves (TestPageLibrary()).
#include "testkit/EngineSanitizerDefaults.h"
#include "browser/ResScheme.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    kbr::PrepareBrowserEngine();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
