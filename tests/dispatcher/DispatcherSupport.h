#pragma once
// Page windows for the dispatcher tests: the real CHtmlDialog / MainDialog on the fixture page
// library, with their protected steps reachable and child windows recorded. Their services are a
// FakeConfigServices: boxes recorded and answered, the Reminder counted instead of shown.

#include "../browser/WebTestSupport.h"
#include "tests/shell/FakeConfigServices.h"

#include "shell/CHtmlDialog.h"
#include "shell/MainDialog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

#include <memory>
#include <string>
#include <vector>

namespace kbr::test {

// Page calls as the fixture page recorded them: [[name, args...], ...] flattened to "name a b".
inline std::vector<std::string> PageLog(CHtmlCtrl& control, const QString& script = QStringLiteral("logText()")) {
    std::vector<std::string> lines;
    const QJsonArray calls = QJsonDocument::fromJson(Eval(&control, script).toString().toUtf8()).array();
    for (const auto& call : calls) {
        std::string line;
        for (const auto& part : call.toArray()) {
            if (!line.empty()) line += ' ';
            line += part.toString().toStdString();
        }
        lines.push_back(line);
    }
    return lines;
}

// What child page windows saw: their code 1600 reports, and whether they are gone.
struct ChildRecord {
    std::vector<std::string> reports;
    QPointer<CHtmlDialog> last;
    int opened = 0;
};

class RecordingChild : public CHtmlDialog {
public:
    RecordingChild(ConfigServices& services, const QString& url, QWidget* parent, DeviceLink* link,
                   std::shared_ptr<ChildRecord> record)
        : CHtmlDialog(services, url, parent, link), record_(std::move(record)) {}
    void OnAppCommand(const AppCommand& command) override {
        if (command.code == 1600) record_->reports.push_back(command.argument);
        CHtmlDialog::OnAppCommand(command);
    }

private:
    std::shared_ptr<ChildRecord> record_;
};

// The protected steps of a page window, opened without a modal run of its own.
template <class Base>
class Reachable : public Base {
public:
    using Base::Base;
    using Base::OnOperationTimer;
    using Base::PumpCommandQueue;
    using Base::QueueTimer;

    // Initialises and shows the window, and waits until its first page is bound.
    bool Open() {
        if (!this->OnInitDialog()) return false;
        this->show();
        return QTest::qWaitFor([this] { return this->HtmlCtrl().IsBound(); }, LOAD_TIMEOUT_MS);
    }
    // Runs a command from the page and returns the page's log once it has returned.
    std::vector<std::string> Send(const std::string& url) {
        return PageLog(this->HtmlCtrl(), QStringLiteral("send(%1)").arg(JsonString(url)));
    }
    // Runs a page-side expression and returns its value.
    QVariant Run(const QString& script) { return Eval(&this->HtmlCtrl(), script); }
    std::vector<std::string> Log() { return PageLog(this->HtmlCtrl()); }

    std::shared_ptr<ChildRecord> children = std::make_shared<ChildRecord>();

    static QString JsonString(const std::string& text) {
        return QString::fromUtf8(QJsonDocument(QJsonArray{QString::fromStdString(text)}).toJson(QJsonDocument::Compact))
            .mid(1)
            .chopped(1);
    }

protected:
    std::unique_ptr<CHtmlDialog> CreateChildPage(const QString& url) override {
        auto child = std::make_unique<RecordingChild>(this->Services(), url, this, this->Link(), children);
        children->last = child.get();
        ++children->opened;
        return child;
    }
};

using TestPage = Reachable<CHtmlDialog>;

// The main window on a simulator's loopback port instead of the device's address.
class TestMainBase : public MainDialog {
public:
    TestMainBase(ConfigServices& services, uint16_t port)
        : MainDialog(services, "127.0.0.1", std::to_string(port), nullptr) {}
    using MainDialog::ConnectToDevice;
    using MainDialog::OnLinkEvent;
    std::atomic<int> reads16{0};

    void OnLinkEvent(int code) override {
        if (code == LINK_READ16) ++reads16;
        MainDialog::OnLinkEvent(code);
    }
};

using TestMain = Reachable<TestMainBase>;

}  // namespace kbr::test
