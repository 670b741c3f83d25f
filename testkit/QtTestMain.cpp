// main() for the Qt tests: one application object (offscreen unless a platform was chosen),
// alive for the whole run and destroyed before the program's own exit handlers.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
