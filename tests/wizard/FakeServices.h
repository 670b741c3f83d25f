#pragma once
// A recording WizardServices for driving the wizard's sequence without a network, processes or
// real waits. Every call becomes one line in `events`, in order.

#include "DialogScript.h"
#include "wizard/ProbeFailedDialog.h"
#include "wizard/ProbeNoticeDialog.h"
#include "wizard/WizardServices.h"

#include <QApplication>
#include <QWidget>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace kbr::wizard::test {

// True while a probe notice is on screen.
inline bool NoticeShown() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<ProbeNoticeDialog*>(w) != nullptr && w->isVisible()) {
            return true;
        }
    }
    return false;
}

inline std::string WithNotice(const std::string& event) { return NoticeShown() ? event + " +notice" : event; }

class FakeServices : public WizardServices {
public:
    class Link : public ProbeLink {
    public:
        explicit Link(FakeServices& owner) : owner_(owner) {}
        bool Open() override {
            const int attempt = owner_.attempts++;
            open_ = owner_.answeringAttempts.count(attempt) > 0;
            owner_.events.push_back(WithNotice(open_ ? "open ok" : "open failed"));
            return open_;
        }
        void Close() override {
            if (open_) {
                owner_.events.push_back(WithNotice("close"));
                open_ = false;
            }
        }

    private:
        FakeServices& owner_;
        bool open_ = false;
    };

    std::unique_ptr<ProbeLink> NewLink() override { return std::make_unique<Link>(*this); }
    void StartRenewal(const std::string& parameter) override { events.push_back("ipconfig " + parameter); }
    bool LaunchConfigProgram() override {
        events.push_back(WithNotice(launchSucceeds ? "launch" : "launch failed"));
        return launchSucceeds;
    }
    void Wait(std::chrono::milliseconds duration) override {
        events.push_back(WithNotice("wait " + std::to_string(duration.count())));
        if (onWait) {
            onWait();
        }
    }
    void ShowMessage(QWidget* owner, const QString& text, const QString& caption, uint32_t type) override {
        std::string line = "box [" + caption.toStdString() + "] " + text.toStdString();
        if (owner != nullptr) {
            line += owner->isVisible() ? " owned-by-visible-" : " owned-by-hidden-";
            line += owner->objectName().toStdString();
        }
        if ((type & 0xF0) == MBOX_ICONEXCLAMATION) {
            line += " !";
        }
        events.push_back(WithNotice(line));
    }
    bool OtherInstanceRunning() override { return otherInstance; }
    void OpenHelp() override { events.emplace_back("help"); }
    int RunFailureDialog(ProbeFailedDialog& dialog) override {
        events.push_back(WithNotice("failure dialog"));
        const int result = RunScripted(dialog, dialogSteps, [this](const std::string& s) { events.push_back(s); });
        events.push_back("failure dialog result " + std::to_string(result));
        return result;
    }

    // Which connection attempts (0-based, counted over the whole life) the device answers.
    std::set<int> answeringAttempts;
    bool launchSucceeds = true;
    bool otherInstance = false;
    std::vector<std::string> dialogSteps;
    std::function<void()> onWait;

    int attempts = 0;
    std::vector<std::string> events;
};

}  // namespace kbr::wizard::test
