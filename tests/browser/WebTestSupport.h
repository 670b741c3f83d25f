#pragma once
// Shared helpers of the tests that run real pages in Qt WebEngine (offscreen).

#include "FakeHostServices.h"
#include "browser/HtmlCtrl.h"
#include "testkit/ScratchFolder.h"

#include <QDialog>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWidget>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kbr::test {

constexpr int LOAD_TIMEOUT_MS = 60000;

// The services of a TestHost, made before it.
struct HostServicesMember {
    FakeHostServices services;
};

// A window hosting one control in place of placeholder 1006, recording what reaches it; what the
// control does outside its pages goes to `services`.
class TestHost : private HostServicesMember, public QDialog, public HtmlHostEvents {
public:
    using HostServicesMember::services;

    explicit TestHost(QWidget* parent = nullptr, QSize size = QSize(640, 420))
        : QDialog(parent), HtmlHostEvents(services) {
        resize(size);
        auto* placeholder = new QWidget(this);
        placeholder->setProperty("controlId", 1006);
        placeholder->setGeometry(QRect(QPoint(0, 0), size));
        control = new CHtmlCtrl(services);
        created = control->ReplacePlaceholder(1006, this, this);
        if (created) {
            QObject::connect(control->page(), &QWebEnginePage::loadFinished, this, [this](bool ok) {
                ++loads;
                lastLoadOk = ok;
            });
        }
    }
    // The control goes before the services it uses.
    ~TestHost() override { delete control; }

    void OnAppCommand(const AppCommand& command) override {
        commands.push_back(command);
        if (onCommand) onCommand(command);
    }
    void OnDocumentReady() override { ++documentReady; }

    bool LoadAndWait(const QString& url) {
        const int before = loads;
        control->Navigate(url);
        return QTest::qWaitFor([&] { return loads > before; }, LOAD_TIMEOUT_MS);
    }

    CHtmlCtrl* control = nullptr;
    bool created = false;
    std::vector<AppCommand> commands;
    std::function<void(const AppCommand&)> onCommand;
    int documentReady = 0;
    int loads = 0;
    bool lastLoadOk = false;
};

// Runs script in the page and waits for its value.
inline QVariant Eval(CHtmlCtrl* control, const QString& script, int timeoutMs = LOAD_TIMEOUT_MS) {
    struct State {
        bool done = false;
        QVariant value;
    };
    auto state = std::make_shared<State>();
    control->page()->runJavaScript(script, QWebEngineScript::MainWorld, [state](const QVariant& v) {
        state->value = v;
        state->done = true;
    });
    if (!QTest::qWaitFor([&] { return state->done; }, timeoutMs)) {
        ADD_FAILURE() << "no answer from the page for: " << script.toStdString();
    }
    return state->value;
}

// A fresh folder that is the working directory while the object lives (programs look for their
// page library and write their helper files in the working directory).
class ScratchWorkingDirectory {
public:
    explicit ScratchWorkingDirectory(const std::string& prefix)
        : folder_(prefix + "-"), path_(folder_.Path()), previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path_);
    }
    ~ScratchWorkingDirectory() { std::filesystem::current_path(previous_); }
    ScratchWorkingDirectory(const ScratchWorkingDirectory&) = delete;
    ScratchWorkingDirectory& operator=(const ScratchWorkingDirectory&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    testkit::ScratchFolder folder_;
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

}  // namespace kbr::test
