#include "shell/MainDialog.h"

#include "browser/StartupTrace.h"
#include "shell/AboutDialog.h"
#include "shell/ConfigServices.h"
#include "shell/DeviceEvents.h"
#include "widgets/ProductIcon.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPointer>

#include <sys/socket.h>

namespace kbr {

MainDialog::MainDialog(ConfigServices& services, QWidget* parent)
    : MainDialog(services, DEVICE_ADDRESS, DEVICE_PORT, parent) {}

MainDialog::MainDialog(ConfigServices& services, std::string address, std::string port, QWidget* parent)
    : CHtmlDialog(services, QString::fromLatin1(START_URL), parent),
      endpointAddress_(std::move(address)),
      endpointPort_(std::move(port)) {
    setWindowIcon(ProductIcon());
    SetLink(this);  // its own link; it is its own ActivePage from the start
}

MainDialog::~MainDialog() {
    // The notifications are overridden here: the receive thread must be gone before they are.
    Stop();
}

int MainDialog::exec() {
    const int result = CHtmlDialog::exec();
    StopLink();
    return result;
}

bool MainDialog::OnInitDialog() {
    // The page library: the current directory first, then the installation's data directory.
    if (!Services().Pages()) {
        (void)Services().ShowBox({this, QStringLiteral("Cannot find PgPack.DLL resource file!"),
                                  QString::fromLatin1(PROGRAM_CAPTION), MBOX_OK | MBOX_ICONEXCLAMATION});
        setResult(0);
        return false;
    }
    StartupTrace("page library read");

    if (!CHtmlDialog::OnInitDialog()) return false;
    StartupTrace("browser control hosted, start page requested");

    aboutAction_ = new QAction(QStringLiteral("&About KBR3300"), this);
    connect(aboutAction_, &QAction::triggered, this, &MainDialog::ShowAbout);
    HtmlCtrl().SetExtraContextActions({aboutAction_});

    setWindowIcon(ProductIcon());
    deviceAddress_ = endpointAddress_;
    devicePort_ = endpointPort_;
    // While the window is initialised, before it is shown: nothing is on screen while the window
    // thread waits for the (bounded) attempt. A failure posts the reconnect question, which comes
    // once the window is up.
    ConnectToDevice();
    StartupTrace("first connection attempt done");
    return true;
}

void MainDialog::ShowAbout() {
    AboutDialog about(this);
    about.exec();
}

// ---- The link --------------------------------------------------------------------------------------

bool MainDialog::ConnectLink(const std::string& address, const std::string& port) {
    if (!Open(address, port, SOCK_STREAM)) return false;
    return StartReceiver();
}

void MainDialog::ConnectToDevice() {
    if (!ConnectLink(deviceAddress_, devicePort_)) PostLinkLost();
}

void MainDialog::StopLink() {
    Stop();
    connection_.fetch_add(1);
    lossWhileNotifying_ = false;
}

void MainDialog::PostLinkLost() { QCoreApplication::postEvent(this, new LinkLostEvent(connection_.load())); }

void MainDialog::OnReceive(const uint8_t* bytes, int count) {
    if (count <= 0) return;
    QCoreApplication::postEvent(this, new DeviceReplyEvent(bytes, count, connection_.load()));
}

void MainDialog::OnLinkEvent(int code) {
    if (code != LINK_LOST) return;  // a 16-byte read has no effect at all
    if (!NotifyingMark()) {
        PostLinkLost();
        return;
    }
    // The link reports a break once; one that comes while the page's completion callback is
    // being called is kept and reported as soon as that call is over, so it is never lost.
    lossWhileNotifying_ = true;
    if (!NotifyingMark() && lossWhileNotifying_.exchange(false)) PostLinkLost();
}

void MainDialog::OnNotifyingEnded() {
    if (lossWhileNotifying_.exchange(false)) PostLinkLost();
}

bool MainDialog::event(QEvent* event) {
    if (event->type() == WM_DEVICE_REPLY) {
        const auto* reply = static_cast<DeviceReplyEvent*>(event);
        // A read of a connection that has been stopped meanwhile belongs to no operation now.
        if (reply->Connection() == connection_.load()) {
            if (CHtmlDialog* page = ActivePage()) page->DeliverDeviceReply(reply->Received());
        }
        return true;
    }
    if (event->type() == WM_LINK_LOST) {
        // One break, one question. The link reports a break once per connection, but a report
        // can still be queued when the question has already stopped that connection (and a
        // failed reconnect posts one of its own). So: a report of a connection that has been
        // stopped since it was posted is dropped, and while the question is open every report is
        // ignored (the link is stopped then; nothing new can break).
        const auto* lost = static_cast<LinkLostEvent*>(event);
        if (lost->Connection() == connection_.load() && !asking_) ReconnectQuestion();
        return true;
    }
    return CHtmlDialog::event(event);
}

void MainDialog::ReconnectQuestion() {
    // 1-2: the link is stopped and the window's work dropped (a dropped upgrade's progress window
    // is hidden with it).
    StopLink();
    ClearCommandQueue();
    DropActiveOperation();
    HideUpgradeProgress();
    // 3: a close in progress asks nothing.
    if (closingMark_) return;

    // 4
    const QPointer<MainDialog> self(this);
    asking_ = true;
    const int answer = Services().ShowBox({this, QString::fromLatin1(RECONNECT_QUESTION),
                                           QString::fromLatin1(PROGRAM_CAPTION), MBOX_YESNO | MBOX_ICONEXCLAMATION});
    if (!self) return;
    asking_ = false;
    // 5: No ends the program. A child page window that is open would hold the main window's run
    // until the user closed it too, so it is closed first (with its Reminder, as every close).
    if (answer != ANSWER_YES) {
        CloseChildPage();
        PostClose();
        return;
    }
    // 6: a failed attempt brings the question back.
    if (!ConnectLink(deviceAddress_, devicePort_)) PostLinkLost();
    // 7: a child page window that is open is closed (with its Reminder).
    CloseChildPage();
    // 8-9
    NavigatePage(QString::fromLatin1(RECONNECT_URL));
    HideUpgradeProgress();
}

void MainDialog::CloseChildPage() {
    if (CHtmlDialog* page = ActivePage(); page && page != this) {
        page->DropActiveOperation();
        page->PostClose();
    }
}

void MainDialog::closeEvent(QCloseEvent* event) {
    closingMark_ = true;
    CHtmlDialog::closeEvent(event);
}

}  // namespace kbr
