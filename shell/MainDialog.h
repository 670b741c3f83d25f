#pragma once
// The program's one main window: a page window on the start page of the page library, with the
// About entry, the program icon and (once the window is shown) the connection attempt.
//
// Where the About entry is: Linux window managers have no system menu that a program can extend,
// so "&About KBR3300" is appended, after a separator, to the page's context menu (right click
// anywhere in the window), which is where a Linux user looks for such an entry.

#include "shell/CHtmlDialog.h"

#include <string>

class QAction;

namespace kbr {

class MainDialog : public CHtmlDialog {
    Q_OBJECT
public:
    static constexpr const char* kStartUrl = "res://PgPack.dll//Index.html";
    static constexpr const char* kDeviceAddress = "192.168.0.20";
    static constexpr const char* kDevicePort = "52121";

    explicit MainDialog(QWidget* parent = nullptr);

    QAction* AboutAction() const { return aboutAction_; }
    const std::string& DeviceAddress() const { return deviceAddress_; }
    const std::string& DevicePort() const { return devicePort_; }
    bool ClosingMark() const { return closingMark_; }

    // Runs the About box modally.
    void ShowAbout();

protected:
    bool OnInitDialog() override;
    // The connection attempt, made from the event loop once the window is shown. The device link
    // and its reconnect question belong to connection supervision; this is their call site.
    virtual void ConnectToDevice();
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* aboutAction_ = nullptr;
    std::string deviceAddress_;
    std::string devicePort_;
    bool closingMark_ = false;
};

}  // namespace kbr
