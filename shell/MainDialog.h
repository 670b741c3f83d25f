#pragma once
// The program's one main window: a page window on the start page of the page library, with the
// About entry and the program icon, and the program's one device link. It connects while the
// window is initialised, before it is shown, hands every read of the link to the page window that
// is its ActivePage, and asks whether to reconnect when the connection is lost.
//
// Where the About entry is: Linux window managers have no system menu that a program can extend,
// so "&About KBR3300" is appended, after a separator, to the page's context menu (right click
// anywhere in the window), which is where a Linux user looks for such an entry.
//
// Threads: OnReceive and OnLinkEvent run on the link's receive thread and do nothing but post
// events to this window (QCoreApplication::postEvent is safe from any thread); the window thread
// forwards a read to the ActivePage, so the ActivePage is only ever read on the window thread.

#include "link/DeviceLink.h"
#include "platform/ProgramNames.h"
#include "shell/CHtmlDialog.h"

#include <atomic>
#include <cstdint>
#include <string>

class QAction;

namespace kbr {

class MainDialog : public CHtmlDialog, public DeviceLink {
    Q_OBJECT
public:
    static constexpr const char* START_URL = "res://PgPack.dll//Index.html";
    static constexpr const char* DEVICE_ADDRESS = platform::DEVICE_ADDRESS;
    static constexpr const char* DEVICE_PORT = platform::DEVICE_PORT;
    static constexpr const char* RECONNECT_QUESTION =
        "Lost connection to device.  Select 'Yes' to attempt to reconnect?  Select 'No' to close application.";
    // Shown after a reconnect: one slash, lower-case "index.html" (the start URL differs).
    static constexpr const char* RECONNECT_URL = "res://PgPack.dll/index.html";

    // `services` must outlive the window.
    explicit MainDialog(ConfigServices& services, QWidget* parent = nullptr);
    ~MainDialog() override;

    // The modal run; the link is stopped when it ends (the window is gone then).
    int exec() override;

    QAction* AboutAction() const { return aboutAction_; }
    const std::string& DeviceAddress() const { return deviceAddress_; }
    const std::string& DevicePort() const { return devicePort_; }
    bool ClosingMark() const { return closingMark_; }
    // The reconnect question is on screen.
    bool AskingReconnect() const { return asking_; }

    // Connects the link and starts its receive thread; true only when both succeed. Blocks the
    // window thread until the connection attempt has ended.
    [[nodiscard]] bool ConnectLink(const std::string& address, const std::string& port);

    // Runs the About box modally.
    void ShowAbout();

protected:
    // For tests: the device endpoint to use instead of 192.168.0.20:52121 (a simulator on
    // loopback). Nothing in the program reaches this constructor.
    MainDialog(ConfigServices& services, std::string address, std::string port, QWidget* parent);

    bool OnInitDialog() override;
    // The first connection attempt, made while the window is initialised (before it is shown); a
    // failure brings the reconnect question once the window is up.
    virtual void ConnectToDevice();
    // WM_LINK_LOST: stop the link, drop the work, ask; Yes reconnects and shows the start page.
    virtual void ReconnectQuestion();

    // Receive thread.
    void OnReceive(const uint8_t* bytes, int count) override;
    void OnLinkEvent(int code) override;

    void OnNotifyingEnded() override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PostLinkLost();
    // Drops the work of the child page window that is the ActivePage, if one is open, and closes it.
    void CloseChildPage();
    // Stops the link and starts a new connection number: reports still queued from the stopped
    // connection are recognised and dropped.
    void StopLink();

    QAction* aboutAction_ = nullptr;
    std::string endpointAddress_;
    std::string endpointPort_;
    std::string deviceAddress_;
    std::string devicePort_;
    bool closingMark_ = false;
    bool asking_ = false;
    // Number of the current connection; changed only on the window thread while no receive
    // thread runs, read by the receive thread when it posts.
    std::atomic<uint64_t> connection_{0};
    // A loss reported while CompleteOperation was calling into the page, reported once it is done.
    std::atomic<bool> lossWhileNotifying_{false};
};

}  // namespace kbr
