// KBR3300: the configuration program.
#include "browser/ResScheme.h"
#include "shell/ConfigApp.h"
#include "shell/MainDialog.h"
#include "shell/ProgramIcon.h"

#include <QApplication>

int main(int argc, char** argv) {
    kbr::PrepareBrowserEngine();  // before the application object
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KBR3300"));
    QApplication::setWindowIcon(kbr::ProgramIcon());
    kbr::ConfigApp config;
    return config.Run([] {
        kbr::MainDialog dialog;
        return dialog.exec();
    });
}
