#include "shell/CHtmlDialog.h"

#include "ProgramVersion.h"
#include "browser/AppCommand.h"
#include "browser/StartupTrace.h"
#include "link/DeviceLink.h"
#include "link/OperationFactory.h"
#include "shell/ConfigServices.h"
#include "shell/DeviceEvents.h"
#include "shell/PageOperationContext.h"
#include "shell/UpgradeProgressDialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QResizeEvent>

#include <algorithm>

namespace kbr {
namespace {

// The upgrade is the one operation whose interruption the user is asked about.
constexpr int UPGRADE_FUNCTION = FunctionNumber(PageFunction::FUNC_UPGRADE_IMAGE);

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

CHtmlDialog::CHtmlDialog(ConfigServices& services, const QString& startUrl, QWidget* parent, DeviceLink* link)
    : QDialog(parent),
      HtmlHostEvents(services),
      services_(services),
      control_(new CHtmlCtrl(services)),
      startUrl_(startUrl),
      link_(link),
      context_(std::make_unique<PageOperationContext>(*this)),
      activePage_(this) {
    // Caption, system menu and minimise box; no maximise box, no sizing border.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("KBR3300"));
    SetWindowSize(TEMPLATE_WIDTH, TEMPLATE_HEIGHT);
    auto* placeholder = new QWidget(this);
    placeholder->setProperty("controlId", PLACEHOLDER_ID);
    placeholder->setGeometry(rect());

    queueTimer_.setInterval(QUEUE_TICK_MS);
    connect(&queueTimer_, &QTimer::timeout, this, &CHtmlDialog::PumpCommandQueue);
    // Like a window timer: it ticks every period until killed, and starting it again restarts the
    // period from now (so a dropped operation's timer cannot time out the next operation early).
    operationTimer_.setTimerType(Qt::PreciseTimer);
    connect(&operationTimer_, &QTimer::timeout, this, &CHtmlDialog::OnOperationTimer);
}

CHtmlDialog::~CHtmlDialog() {
    queueTimer_.stop();
    operationTimer_.stop();
    active_.reset();
    starting_.reset();
    delete control_;
}

void CHtmlDialog::SetWindowSize(int width, int height) { setFixedSize(width, height); }

void CHtmlDialog::PlaceWindow(QPoint topLeft, QSize clientSize) {
    // One move-and-resize, as the page asked for, not a resize and then a move: the browser engine
    // draws the page afresh for each change of the window's place or size, and a page that is still
    // loading pays for every one of them. The fixed size is lifted for the request and set again.
    const QPoint frameOffset = geometry().topLeft() - frameGeometry().topLeft();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setGeometry(QRect(topLeft + frameOffset, clientSize));
    SetWindowSize(clientSize.width(), clientSize.height());
}

int CHtmlDialog::exec() {
    if (!initialised_) {
        initialised_ = true;
        setResult(QDialog::Rejected);
        if (!OnInitDialog()) return result();
    }
    StartupTrace("modal run starts");
    return QDialog::exec();
}

bool CHtmlDialog::OnInitDialog() {
    if (!control_->ReplacePlaceholder(PLACEHOLDER_ID, this, this)) return false;
    control_->setGeometry(rect());
    control_->Navigate(startUrl_);
    state_ = PageDeviceState{};
    commandQueue_.clear();
    active_.reset();
    completionCallback_.clear();
    firstResize_ = false;
    pageSize_.reset();
    queueTimer_.start();
    return true;
}

void CHtmlDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (control_->parentWidget() != this) return;
    // The control fills the client area; after a page's resize (code 1001) it keeps the outer size
    // that the page asked for.
    if (pageSize_ && event->size() == clientSizeForPage_) {
        control_->setGeometry(QRect(QPoint(0, 0), *pageSize_));
    } else {
        control_->setGeometry(rect());
    }
}

void CHtmlDialog::OnDocumentReady() { setWindowTitle(QString::fromLocal8Bit(control_->PageTitle())); }

// ---- Page commands -------------------------------------------------------------------------------

void CHtmlDialog::OnAppCommand(const AppCommand& command) {
    switch (command.code) {
        case EVENT_CLOSEDLG: PostClose(); break;
        case EVENT_RESIZE: ResizeFromPage(command.argument); break;
        case EVENT_NAVIGATE: OpenChildPage(command.argument); break;
        case EVENT_FUNCTION: commandQueue_.push_back(command.argument); break;
        case EVENT_MSGBOX: ShowPageBox(command.argument, false); break;
        case EVENT_CLEAR_QUEUE:
            commandQueue_.clear();
            DropActiveOperation();
            break;
        case EVENT_SET_CALLBACK: completionCallback_ = command.argument; break;
        case EVENT_GET_APP_VER: CallPage("CallbackAppVer", {PROGRAM_VERSION}); break;
        case EVENT_CONFIRM: ShowPageBox(command.argument, true); break;
        default: break;  // other codes (the page set also sends 2000) mean nothing here
    }
}

void CHtmlDialog::ResizeFromPage(std::string_view argument) {
    // Width "@" height in decimal pixels, read as leading digits; no "@" gives a square.
    const int width = std::max(0, static_cast<int>(LeadingInt(argument)));
    const size_t at = argument.find('@');
    const int height =
        at == std::string_view::npos ? width : std::max(0, static_cast<int>(LeadingInt(argument.substr(at + 1))));
    // The page gives the outer size of the window; its frame (caption and borders) is part of it.
    const QPoint topLeft = firstResize_ ? frameGeometry().topLeft() : QPoint(FIRST_LEFT, FIRST_TOP);
    firstResize_ = true;
    const QSize frame = frameGeometry().size() - geometry().size();
    pageSize_ = QSize(width, height);
    clientSizeForPage_ = QSize(std::max(0, width - frame.width()), std::max(0, height - frame.height()));
    PlaceWindow(topLeft, clientSizeForPage_);
    raise();
    // The browser control gets the same outer size, from the client area's corner: what lies
    // beyond the client area is the page's own margin under the frame. Paint it at once.
    control_->setGeometry(QRect(QPoint(0, 0), *pageSize_));
    repaint();
}

void CHtmlDialog::OpenChildPage(const std::string& path) {
    const QString url = QString::fromLatin1(PAGE_LIBRARY_URL) + QString::fromLocal8Bit(path);
    std::unique_ptr<CHtmlDialog> child = CreateChildPage(url);
    commandQueue_.clear();  // the active operation, if any, is left as it is
    QPointer<CHtmlDialog> self(this);
    activePage_ = child.get();
    child->exec();
    if (!self) return;
    activePage_ = this;
    repaint();
    child.reset();  // its upgrade progress window goes with it
}

std::unique_ptr<CHtmlDialog> CHtmlDialog::CreateChildPage(const QString& url) {
    return std::make_unique<CHtmlDialog>(services_, url, this, link_);
}

void CHtmlDialog::ShowPageBox(const std::string& argument, bool askYesNo) {
    // Caption "," text; further commas belong to the text. Only "%20" is decoded.
    const size_t comma = argument.find(',');
    std::string caption = comma == std::string::npos ? std::string() : argument.substr(0, comma);
    std::string text = comma == std::string::npos ? argument : argument.substr(comma + 1);
    ReplaceAll(caption, "%20", " ");
    ReplaceAll(text, "%20", " ");
    const QPointer<CHtmlDialog> self(this);
    const int answer = services_.ShowBox(
        {this, QString::fromLocal8Bit(text), QString::fromLocal8Bit(caption), askYesNo ? MBOX_YESNO : MBOX_OK});
    if (!self) return;
    if (askYesNo) CallPage("CallbackConfirm", {answer == ANSWER_YES ? "1" : "0"});
    repaint();
}

void CHtmlDialog::CallPage(const std::string& function, const std::vector<std::string>& args) {
    (void)control_->Script().CallFunction(function, args);
}

// ---- Queue and operations ------------------------------------------------------------------------

void CHtmlDialog::PumpCommandQueue() {
    if (commandQueue_.empty() || active_ || starting_) return;
    const std::string command = std::move(commandQueue_.front());
    commandQueue_.pop_front();
    const FunctionCommand function = ParseFunctionCommand(command);
    std::shared_ptr<OperationHandler> operation = MakeOperation(function.function, *context_);
    if (!operation) return;  // not a function number: dropped
    const QPointer<CHtmlDialog> self(this);
    starting_ = operation;
    operation->Start(function.args);
    if (self) starting_.reset();
}

void CHtmlDialog::OnOperationTimer() {
    const std::shared_ptr<OperationHandler> operation = active_;
    if (operation) operation->OnTimeout();
}

void CHtmlDialog::DeliverDeviceReply(std::span<const uint8_t> received) {
    const std::shared_ptr<OperationHandler> operation = active_;
    if (operation) operation->OnReply(received);
}

void CHtmlDialog::CompleteOperation(int result) {
    notifying_ = true;
    // With no callback set there is no function to call. The name is cleared once the call is
    // over, so a callback that the call itself registers does not outlive it either: a page sets
    // the callback again before each operation whose result it wants.
    const std::string callback = completionCallback_;
    if (!callback.empty()) CallPage(callback, {std::to_string(result)});
    completionCallback_.clear();
    notifying_ = false;
    OnNotifyingEnded();
}

void CHtmlDialog::DropActiveOperation() {
    const std::shared_ptr<OperationHandler> dropped = std::exchange(active_, nullptr);
    // An upgrade's progress window has no close box: it must not outlive the upgrade.
    if (dropped && dropped->FunctionNumber() == UPGRADE_FUNCTION) HideUpgradeProgress();
}

void CHtmlDialog::HideUpgradeProgress() {
    if (progress_) progress_->hide();
}

void CHtmlDialog::NavigatePage(const QString& url) {
    pendingNavigation_ = url;
    NavigatePending();
}

void CHtmlDialog::NavigatePending() {
    if (pendingNavigation_.isEmpty()) return;
    // A document that is replaced while its script waits in a command never finishes loading its
    // successor: let the command return first.
    if (control_->Script().InBridgeCall()) {
        QTimer::singleShot(50, this, &CHtmlDialog::NavigatePending);
        return;
    }
    control_->Navigate(std::exchange(pendingNavigation_, QString()));
}

bool CHtmlDialog::event(QEvent* event) {
    if (event->type() == WM_DEVICE_REPLY) {
        DeliverDeviceReply(static_cast<DeviceReplyEvent*>(event)->Received());
        return true;
    }
    return QDialog::event(event);
}

// ---- Closing -------------------------------------------------------------------------------------

void CHtmlDialog::PostClose() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void CHtmlDialog::closeEvent(QCloseEvent* event) {
    // A close that reaches a window whose run has already ended asks and shows nothing.
    if (!isVisible()) {
        QDialog::closeEvent(event);
        return;
    }
    if (active_ && active_->FunctionNumber() == UPGRADE_FUNCTION) {
        const QPointer<CHtmlDialog> self(this);
        const int answer = services_.ShowBox(
            {this, QString::fromLatin1(CLOSE_UPGRADE_QUESTION), QString::fromLatin1(PROGRAM_CAPTION), MBOX_YESNO});
        if (!self) return;
        if (answer != ANSWER_YES) {
            event->ignore();
            return;
        }
        // Yes: the transfer goes on while the Reminder is up, and may still finish; it ends with
        // the window.
    }
    const QPointer<CHtmlDialog> self(this);
    services_.ShowReminder();
    if (!self) return;
    QDialog::closeEvent(event);  // ends the modal run with the cancel result
}

void CHtmlDialog::keyPressEvent(QKeyEvent* event) {
    // Esc closes the way every close does (upgrade question, Reminder), not behind their back.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CHtmlDialog::done(int result) {
    // The window's run is over: it starts nothing more.
    queueTimer_.stop();
    QDialog::done(result);
}

}  // namespace kbr
