#pragma once
// "Connection failed": shown when the device did not answer at start. "Try again" (also Enter)
// probes again and leaves the dialog open whatever the outcome; "Cancel", Esc and the close box
// end the wizard; the help button opens the DHCP help document.

#include <QDialog>

class QPushButton;

namespace kbr::wizard {

class ProbeFailedDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* CAPTION = "Connection failed";
    static constexpr const char* TEXT_CHECKS =
        "The connection to the KBR3300 adaptor failed. Please check: \n"
        " 1. The KBR3300 is powered by a 5V/1A power adaptor.\n"
        " 2. This PC is directly connected to the KBR3300 with an Ethernet cable.";
    static constexpr const char* TEXT_SETTINGS =
        " 3. The Mode Config/Normal button is in position and the Config LED is on.\n"
        " 4. The IP setting of this PC is in DHCP mode, instead of static IP mode.\n";

    // Command ids of the buttons; Cancel's is also the dialog's result when it closes.
    static constexpr int ID_TRY_AGAIN = 1;
    static constexpr int ID_CANCEL = 2;
    static constexpr int ID_HELP = 1002;

    // Modal, without an owner.
    ProbeFailedDialog();

    QPushButton* TryAgainButton() const { return tryAgain_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* HelpButton() const { return help_; }

signals:
    // "Try again": the receiver probes again while the dialog stays open.
    void RetryRequested();
    // "Help to configure DHCP".
    void HelpRequested();

public slots:
    // Esc, the close box and "Cancel" all end the dialog with ID_CANCEL.
    void reject() override;

private:
    QPushButton* tryAgain_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* help_ = nullptr;
};

}  // namespace kbr::wizard
