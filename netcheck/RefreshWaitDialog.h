#pragma once
// The small window shown while an IP address refresh runs. It starts the RefreshWorker when it is
// made and looks once per poll interval whether the worker is done; then it closes as with OK.
// It has no buttons and no close box, and Esc does not close it: the result check that follows
// must read what the helper has just written, not a file left from earlier.

#include <QDialog>

#include <memory>

#include "netcheck/RefreshWorker.h"

class QTimer;

namespace kbr {

class RefreshWaitDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* CAPTION = "IP is refreshing...";
    static constexpr const char* TEXT = "Utility is configuring your IP address. Please wait about 2 minutes...";
    // 240 x 51 dialog units.
    static constexpr int WIDTH_PX = 360;
    static constexpr int HEIGHT_PX = 83;

    RefreshWaitDialog(std::shared_ptr<RefreshFlags> flags, const RefreshSettings& settings, QWidget* parent = nullptr);
    ~RefreshWaitDialog() override;

    // False when the worker thread could not be started (the dialog then closes at once).
    bool WorkerStarted() const { return workerStarted_; }

public slots:
    // Ignored while the refresh runs, so Esc and the window manager's close cannot end it early.
    void reject() override;

private:
    void Poll();

    std::shared_ptr<RefreshFlags> flags_;
    RefreshWorker worker_;
    QTimer* pollTimer_ = nullptr;
    bool workerStarted_ = false;
};

}  // namespace kbr
