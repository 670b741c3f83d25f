#pragma once
// Shared pieces of the reminder tests: a recording stand-in for the IP helper, loopback probe
// targets, a recorder of the boxes a refresh shows, and a bound on a modal run.

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "netcheck/RefreshWorker.h"
#include "widgets/MessageBox.h"

namespace netcheck_test {

inline void WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(content);
}

// Stands in for the helper program: counts its runs, notes where and on which thread it ran,
// and leaves the prepared "ipinfo.tmp" content of each run (nothing: writes no file).
class HelperStub : public std::enable_shared_from_this<HelperStub> {
public:
    explicit HelperStub(std::vector<std::optional<QByteArray>> writes = {}) : writes_(std::move(writes)) {}

    kbr::HelperRunner Runner() {
        return [self = shared_from_this()](const QString& directory) { self->Run(directory); };
    }
    int Calls() const { return calls_.load(); }
    std::vector<QString> Directories() {
        std::lock_guard lock(mutex_);
        return directories_;
    }
    std::set<std::thread::id> Threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    // Runs wait until Release() while the stub is held.
    void Hold() { held_.store(true); }
    void Release() { held_.store(false); }

private:
    void Run(const QString& directory) {
        const int n = calls_.load();
        {
            std::lock_guard lock(mutex_);
            directories_.push_back(directory);
            threads_.insert(std::this_thread::get_id());
        }
        for (int i = 0; held_.load() && i < 30'000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (n < static_cast<int>(writes_.size()) && writes_[n]) {
            WriteFile(directory + QStringLiteral("/ipinfo.tmp"), *writes_[n]);
        }
        calls_.fetch_add(1);
    }

    std::vector<std::optional<QByteArray>> writes_;
    std::atomic<int> calls_{0};
    std::atomic<bool> held_{false};
    std::mutex mutex_;
    std::vector<QString> directories_;
    std::set<std::thread::id> threads_;
};

// A port on 127.0.0.1 where nothing listens.
inline quint16 ClosedPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) return 1;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

inline kbr::RefreshSettings TestSettings(const QString& directory, const std::shared_ptr<HelperStub>& stub,
                                         quint16 probePort) {
    kbr::RefreshSettings settings;
    settings.directory = directory;
    settings.runHelper = stub->Runner();
    settings.probeAddress = "127.0.0.1";
    settings.probePort = std::to_string(probePort);
    settings.pollIntervalMs = 20;
    return settings;
}

// Records every box instead of showing it, and answers OK.
class RecordedBoxes : public kbr::MessageBoxes {
public:
    int ShowBox(const kbr::MessageBoxRequest& request) override {
        boxes.push_back(request);
        return kbr::ANSWER_OK;
    }
    std::vector<kbr::MessageBoxRequest> boxes;
};

// A bound on the modal runs while it lives: after `limitMs` every dialog still open is ended, so
// a fault shows as a failed check instead of a hung test.
class ModalGuard {
public:
    explicit ModalGuard(int limitMs = 20'000) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            timedOut = true;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) dialog->done(0);
            }
        });
        timer_.start(limitMs);
    }
    bool timedOut = false;

private:
    QTimer timer_;
};

// Runs `action` once the modal run that is about to start is under way (its first turn of the
// event loop).
template <class Action>
void WhenModalRuns(Action action) {
    QTimer::singleShot(0, qApp, [action] { action(QApplication::activeModalWidget()); });
}

}  // namespace netcheck_test
