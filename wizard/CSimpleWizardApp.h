#pragma once
// The setup wizard application: it has no main window. It checks that it runs alone, probes the
// device and starts the configuration program, or shows the "Connection failed" dialog.

#include "wizard/WizardServices.h"

namespace kbr::wizard {

class CSimpleWizardApp {
public:
    // Writes the trace line "CSimpleWizardApp::CSimpleWizardApp()"; nothing else happens before Run.
    explicit CSimpleWizardApp(WizardServices& services);

    // The start sequence; returns when the wizard is to end (the process exit code).
    int Run();

private:
    WizardServices& services_;
};

}  // namespace kbr::wizard
