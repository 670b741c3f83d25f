#pragma once
// The reminder shown whenever a page window closes: how to put the device and the PC back to
// normal, and a button that refreshes the PC's IP address through the outside helper and then
// says whether that worked.
//
// Entry point for a page window that is closing:
//     kbr::ShowReminder(boxes);   // modal, no owner; the close goes on whatever it returns
// The verdict box goes to `boxes`, the program's services.

#include <QDialog>

#include "netcheck/RefreshWorker.h"

class QPushButton;

namespace kbr {

class MessageBoxes;

class ReminderDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* CAPTION = "Reminder";
    static constexpr const char* TEXT_1 =
        "1. Press the Config/Normal button again to change the KBR3300 back to normal mode.\n"
        "2. If you have changed your computer's fixed IP address to DHCP, change it back to fixed.";
    static constexpr const char* TEXT_2 =
        "3. If the computer uses DHCP setting to connect to the Internet and you do not want to \n"
        "configure another KBR3300, please refresh its IP address from the router by clicking";
    static constexpr const char* TEXT_3 =
        "\"Refresh IP address\" button. Be sure the computer has access to the router before click the button.";
    static constexpr const char* OK_LABEL = "OK";
    static constexpr const char* REFRESH_LABEL = "Refresh IP address";
    // 327 x 101 dialog units.
    static constexpr int WIDTH_PX = 491;
    static constexpr int HEIGHT_PX = 164;

    // With default settings, the shipped form: the real helper program and the device's
    // configuration address. Tests give a stand-in helper, a loopback probe target, a directory
    // of their own.
    explicit ReminderDialog(MessageBoxes& boxes, RefreshSettings settings = {}, QWidget* parent = nullptr);

    // Command 1005: renews the PC's address (wait dialog over this one), then shows the verdict.
    // The dialog stays open.
    void Refresh();

    // OK: deletes the helper's two files (missing ones are fine) and closes.
    void accept() override;

private:
    void FitTextsToSize();
    QString HelperFile(const char* name) const;
    void ShowVerdict(const QString& text);

    MessageBoxes& boxes_;
    RefreshSettings settings_;
    QPushButton* okButton_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
};

// Shows the shipped reminder modally and returns when the user leaves it (QDialog::Accepted for
// OK, QDialog::Rejected for Esc). `parent` may be null: the reminder then has no owner.
int ShowReminder(MessageBoxes& boxes, QWidget* parent = nullptr);

}  // namespace kbr
