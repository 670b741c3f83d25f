#pragma once
// A page window: a dialog that hosts one CHtmlCtrl in place of its placeholder 1006, shows a page
// and carries out the page's commands. MainDialog and every child page window are CHtmlDialogs.
//
// Page commands (OnAppCommand, codes 1000 to 1008) run synchronously while the page waits in
// window.navigate('app:...'); page calls made meanwhile reach the page before navigate returns.
// Code 1003 queues a device function; QUEUE_TIMER (250 ms) starts at most one queued function per
// tick, and only while no operation is active, so the window's operations run one at a time over
// the shared device link. The running operation (ActiveOperation) is driven by OPERATION_TIMER
// and by the device replies that reach this window (WM_DEVICE_REPLY); it reports its result
// through CompleteOperation, which calls the page's completion callback (code 1006) once.
//
// Extension points:
//  - OnInitDialog(): runs once, when exec() starts, before the window is shown; returning false
//    ends the run at once with result(). The base hosts the control, navigates to the start URL,
//    initialises the configuration records and starts QUEUE_TIMER.
//  - OnDocumentReady(): the first document is bound; the base sets the caption to its title.
//  - CreateChildPage(url): the window that code 1002 opens.
//
// Boxes, the Reminder and everything else outside the window go through the ConfigServices it was
// made with; child page windows get the same services.

#include "browser/HtmlCtrl.h"
#include "browser/HtmlHostEvents.h"
#include "link/OperationContext.h"

#include <QDialog>
#include <QSize>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kbr {

class ConfigServices;
class DeviceLink;
class OperationHandler;
class PageOperationContext;
class UpgradeProgressDialog;

class CHtmlDialog : public QDialog, public HtmlHostEvents {
    Q_OBJECT
public:
    static constexpr int PLACEHOLDER_ID = 1006;
    // Template 170: 447 x 277 dialog units at 96 dpi (x 1.5, x 1.625).
    static constexpr int TEMPLATE_WIDTH = 671;
    static constexpr int TEMPLATE_HEIGHT = 450;

    // Page command codes.
    static constexpr int EVENT_CLOSEDLG = 1000;
    static constexpr int EVENT_RESIZE = 1001;
    static constexpr int EVENT_NAVIGATE = 1002;
    static constexpr int EVENT_FUNCTION = 1003;
    static constexpr int EVENT_MSGBOX = 1004;
    static constexpr int EVENT_CLEAR_QUEUE = 1005;
    static constexpr int EVENT_SET_CALLBACK = 1006;
    static constexpr int EVENT_GET_APP_VER = 1007;
    static constexpr int EVENT_CONFIRM = 1008;

    // Window timer ids and the queue's period.
    static constexpr int OPERATION_TIMER = 1;
    static constexpr int QUEUE_TIMER = 2;
    static constexpr int QUEUE_TICK_MS = 250;

    static constexpr const char* PAGE_LIBRARY_URL = "res://PgPack.dll/";
    // The first resize places the window here (screen coordinates of its outer frame).
    static constexpr int FIRST_LEFT = 30;
    static constexpr int FIRST_TOP = 20;
    static constexpr const char* CLOSE_UPGRADE_QUESTION =
        "Closing upgrade window now will halt upgrade and can leave the device in an unusable state.  Continue?";

    // `link` is the device link the window's operations send through (MainDialog's own link; a
    // child page window gets its opener's). Without one, requests go nowhere and the operations
    // end by their timers. `services` must outlive the window.
    CHtmlDialog(ConfigServices& services, const QString& startUrl, QWidget* parent = nullptr,
                DeviceLink* link = nullptr);
    ~CHtmlDialog() override;

    // Runs OnInitDialog once, then the modal run.
    int exec() override;

    CHtmlCtrl& HtmlCtrl() { return *control_; }
    ConfigServices& Services() const { return services_; }
    const QString& StartUrl() const { return startUrl_; }
    // Sets the window's client size; the window has no sizing border otherwise.
    void SetWindowSize(int width, int height);

    // ---- Command state
    const std::deque<std::string>& CommandQueue() const { return commandQueue_; }
    OperationHandler* ActiveOperation() const { return active_.get(); }
    const std::string& CompletionCallback() const { return completionCallback_; }
    // Read by the main window's link notifications on the receive thread.
    bool NotifyingMark() const { return notifying_.load(); }
    bool FirstResizeMark() const { return firstResize_; }
    // The window that device replies are meant for: this one, or the child page window opened
    // with code 1002 while it is open.
    CHtmlDialog* ActivePage() const { return activePage_; }
    DeviceLink* Link() const { return link_; }
    UpgradeProgressDialog* UpgradeProgress() const { return progress_; }
    PageDeviceState& DeviceState() { return state_; }
    bool OperationTimerRunning() const { return operationTimer_.isActive(); }
    int OperationTimerPeriod() const { return operationTimer_.interval(); }

    // ---- Used by the main window's connection supervision
    // Reports an operation's result to the page's completion callback, once.
    void CompleteOperation(int result);
    // Makes the window idle: no active operation (a dropped upgrade's progress window is hidden).
    // The operation's timer is left running; it can reach no operation.
    void DropActiveOperation();
    void ClearCommandQueue() { commandQueue_.clear(); }
    void HideUpgradeProgress();
    // Closes the window from the event loop, as a posted WM_CLOSE does.
    void PostClose();
    // Navigates the browser control to url; while the page is blocked in a command (a child page
    // window it opened is still up, a box is open), once that command has returned.
    void NavigatePage(const QString& url);
    // One read of the device link for the active operation (exactly the bytes read); dropped when
    // no operation is active.
    void DeliverDeviceReply(std::span<const uint8_t> received);

    void OnAppCommand(const AppCommand& command) override;
    void OnDocumentReady() override;

protected:
    virtual bool OnInitDialog();
    // The window that code 1002 opens on url, sharing this window's link.
    virtual std::unique_ptr<CHtmlDialog> CreateChildPage(const QString& url);
    // Called when CompleteOperation has finished calling into the page.
    virtual void OnNotifyingEnded() {}
    // A page call of the dispatcher (CallFunction form, one string per parameter).
    virtual void CallPage(const std::string& function, const std::vector<std::string>& args);

    void SetLink(DeviceLink* link) { link_ = link; }
    // One tick of QUEUE_TIMER: starts the head command when the window is idle.
    void PumpCommandQueue();
    // One expiry of OPERATION_TIMER.
    void OnOperationTimer();
    QTimer& QueueTimer() { return queueTimer_; }

    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    friend class PageOperationContext;

    void ResizeFromPage(std::string_view argument);
    // Puts the window's frame at topLeft and gives it the client size, in one request to the window
    // system; the size stays fixed.
    void PlaceWindow(QPoint topLeft, QSize clientSize);
    void OpenChildPage(const std::string& path);
    void ShowPageBox(const std::string& argument, bool askYesNo);
    void NavigatePending();

    ConfigServices& services_;
    CHtmlCtrl* control_;
    QString startUrl_;
    bool initialised_ = false;
    QString pendingNavigation_;

    DeviceLink* link_ = nullptr;
    std::unique_ptr<PageOperationContext> context_;
    std::deque<std::string> commandQueue_;
    // The running operation, held so that it outlives every call into it; `starting_` holds the
    // one whose Start is running (it may show a box before it becomes active), during which no
    // other command is started.
    std::shared_ptr<OperationHandler> active_;
    std::shared_ptr<OperationHandler> starting_;
    std::string completionCallback_;
    std::atomic<bool> notifying_{false};
    bool firstResize_ = false;
    // The outer size the page asked for with code 1001, and the client size that gives.
    std::optional<QSize> pageSize_;
    QSize clientSizeForPage_;
    CHtmlDialog* activePage_;
    UpgradeProgressDialog* progress_ = nullptr;
    PageDeviceState state_;
    QTimer queueTimer_;
    QTimer operationTimer_;
};

}  // namespace kbr
