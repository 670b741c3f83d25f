// KBR3300_Wizardd: the setup wizard. It reads no command line and no settings.

#include "wizard/CSimpleWizardApp.h"
#include "wizard/WizardSystemServices.h"

#include <QApplication>

#include "widgets/ProductIcon.h"

int main(int argc, char** argv) {
    kbr::wizard::WizardSystemServices services;
    kbr::wizard::CSimpleWizardApp app(services);
    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    kbr::ApplyDesktopIdentity();
    return app.Run();
}
