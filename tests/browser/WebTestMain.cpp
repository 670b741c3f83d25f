// Entry of the WebEngine tests: the engine is prepared (res scheme, --no-sandbox only as root)
// before the application object, pages run offscreen unless a display platform is chosen, and the
// fixture page library is the one the `res` scheme serves.
#include "tests/browser/EngineSanitizerDefaults.h"
#include "browser/PageLibrary.h"
#include "browser/ResScheme.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    kbr::PrepareBrowserEngine();
    QApplication app(argc, argv);
#ifdef KBR_TEST_PGPACK
    kbr::PageLibrary::SetSharedPath(KBR_TEST_PGPACK);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
