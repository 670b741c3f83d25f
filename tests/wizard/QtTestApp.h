#pragma once
// One QApplication for a test program, on the offscreen platform unless a test run chose another.

#include <QApplication>

namespace kbr::wizard::test {

inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "wizard_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        auto* created = new QApplication(argc, argv);
        // The wizard has no main window: closing the notice must not end a running dialog.
        QApplication::setQuitOnLastWindowClosed(false);
        return created;
    }();
    return *app;
}

}  // namespace kbr::wizard::test
