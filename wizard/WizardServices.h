#pragma once
// Everything the wizard's sequence needs from the world outside its own windows: the device
// connection, starting programs, waiting, message boxes, the process list and the help document.
// The program uses WizardSystemServices; tests substitute their own.

#include "widgets/MessageBox.h"

#include <QString>

#include <chrono>
#include <memory>
#include <string>

class QWidget;

namespace kbr::wizard {

class ProbeFailedDialog;

// One run's connection to the device. Only opened and closed: nothing is ever sent.
class ProbeLink {
public:
    virtual ~ProbeLink() = default;
    // One blocking connection attempt. False when already open or the connection failed.
    [[nodiscard]] virtual bool Open() = 0;
    // Closes the connection if there is one (with the link's short pause after closing).
    virtual void Close() = 0;
};

class WizardServices {
public:
    virtual ~WizardServices() = default;

    // Makes the system's sockets usable for the life of the process (Windows Sockets 2.0 on
    // Windows; nothing to do elsewhere). A failure is told to the user; the probe then fails.
    virtual void StartNetworking() {}
    // A fresh, closed link to the device.
    virtual std::unique_ptr<ProbeLink> NewLink() = 0;
    // Starts the address renewal helper with one parameter; neither waited for nor checked.
    virtual void StartRenewal(const std::string& parameter) = 0;
    // Starts the configuration program from the current directory with no arguments.
    [[nodiscard]] virtual bool LaunchConfigProgram() = 0;
    // Keeps the wizard alive (windows stay painted, user input is held back) for `duration`.
    virtual void Wait(std::chrono::milliseconds duration) = 0;
    // A modal message box with an OK button and the icon of `type` (MBOX_ICON* bits, or none).
    // `owner` may be null.
    virtual void ShowMessage(QWidget* owner, const QString& text, const QString& caption, uint32_t type) = 0;
    // True when a wizard or configuration program other than this very process is running.
    [[nodiscard]] virtual bool OtherInstanceRunning() = 0;
    // Opens the DHCP help document for this system, if there is one; failures are silent.
    virtual void OpenHelp() = 0;
    // Runs the failure dialog modally and returns its result.
    virtual int RunFailureDialog(ProbeFailedDialog& dialog);
};

}  // namespace kbr::wizard
