#include "bench/upgrade/PagePath.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <climits>

#include "link/DeviceLink.h"
#include "link/OperationContext.h"
#include "link/OperationFactory.h"
#include "shell/DeviceEvents.h"

namespace kbr::bench {

// MainDialog and CHtmlDialog in one: the link whose notifications post events, the window that
// receives them, and its operation context.
struct PagePath::Window : public QObject, public DeviceLink, public OperationContext {
    Window() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (active) active->OnTimeout();
            Check();
        });
    }
    ~Window() override { Stop(); }

    // ---- The link's notifications (receive thread): post only.
    void OnReceive(const uint8_t* bytes, int count) override {
        QCoreApplication::postEvent(this, new DeviceReplyEvent(bytes, count, 0));
    }
    void OnLinkEvent(int code) override {
        if (code == LINK_LOST) QCoreApplication::postEvent(this, new LinkLostEvent(0));
    }

    // ---- The window thread
    bool event(QEvent* event) override {
        if (event->type() == WM_DEVICE_REPLY) {
            if (active) active->OnReply(static_cast<DeviceReplyEvent*>(event)->Received());
            Check();
            return true;
        }
        if (event->type() == WM_LINK_LOST) {
            active = nullptr;
            Check();
            return true;
        }
        return QObject::event(event);
    }
    void Check() {
        if (!active && loop) loop->quit();
    }

    // ---- OperationContext
    void Send(std::span<const uint8_t> request) override {
        (void)DeviceLink::Send(request.data(), static_cast<int>(request.size()), NO_TIME_LIMIT);
    }
    void StartOperationTimer(uint32_t periodMs) override {
        timer.start(static_cast<int>(std::min<uint32_t>(periodMs, INT_MAX)));
    }
    void KillOperationTimer() override { timer.stop(); }
    void CallPage(std::string_view, const std::vector<std::string>&, PageCallForm) override {}
    void CompleteOperation(int r) override { result = r; }
    void SetActiveOperation(OperationHandler* operation) override { active = operation; }
    OperationHandler* ActiveOperation() const override { return active; }
    void ShowMessage(std::string_view) override {}
    bool AskYesNo(std::string_view) override { return true; }
    void CreateUpgradeProgress() override {}
    void ShowUpgradeProgress(int) override { position = 0; }
    void AdvanceUpgradeProgress() override { ++position; }
    void HideUpgradeProgress() override {}
    PageDeviceState& State() override { return state; }

    QTimer timer;
    QEventLoop* loop = nullptr;
    OperationHandler* active = nullptr;
    PageDeviceState state;
    int result = -1;
    int position = 0;
};

PagePath::PagePath() : window_(std::make_unique<Window>()) {}

PagePath::~PagePath() = default;

bool PagePath::Connect(uint16_t port) {
    return window_->Open("127.0.0.1", std::to_string(port)) && window_->StartReceiver();
}

bool PagePath::Upgrade(const std::string& image) {
    Window& window = *window_;
    std::unique_ptr<OperationHandler> operation = MakeOperation(PageFunction::FUNC_UPGRADE_IMAGE, window);
    window.result = -1;
    QEventLoop loop;
    window.loop = &loop;
    operation->Start(image);
    if (window.active) loop.exec();
    window.loop = nullptr;
    return window.result == 0;
}

}  // namespace kbr::bench
