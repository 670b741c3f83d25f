// The wizard as shipped, plus two hooks for whole-program tests, read from the environment:
//   KBR_WIZARD_TEST_LOG    file that receives one line per message box (instead of showing it)
//                          and per step taken in the failure dialog;
//   KBR_WIZARD_TEST_STEPS  comma-separated steps for the failure dialog ("enter", "esc", "close",
//                          "help", "cancel"); when they run out, "esc".
// Only this test build reads them; the shipped KBR3300_Wizardd reads no environment.

#include "DialogScript.h"
#include "wizard/CSimpleWizardApp.h"
#include "wizard/WizardSystemServices.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

namespace {

class TestHookServices : public kbr::wizard::WizardSystemServices {
public:
    TestHookServices() : logPath_(qEnvironmentVariable("KBR_WIZARD_TEST_LOG")) {
        for (const QString& step : qEnvironmentVariable("KBR_WIZARD_TEST_STEPS").split(',', Qt::SkipEmptyParts)) {
            steps_.push_back(step.trimmed().toStdString());
        }
    }

    void ShowMessage(QWidget* owner, const QString& text, const QString& caption, uint32_t type) override {
        if (logPath_.isEmpty()) {
            WizardSystemServices::ShowMessage(owner, text, caption, type);
            return;
        }
        QString line = "box [" + caption + "] " + text;
        if (owner != nullptr) {
            line += " owner=" + owner->objectName();
        }
        Log(line.toStdString());
    }

    int RunFailureDialog(kbr::wizard::ProbeFailedDialog& dialog) override {
        Log("failure dialog");
        const int result = kbr::wizard::test::RunScripted(dialog, steps_, [this](const std::string& s) { Log(s); });
        Log("failure dialog result " + std::to_string(result));
        return result;
    }

private:
    void Log(const std::string& line) {
        QFile file(logPath_);
        if (!logPath_.isEmpty() && file.open(QIODevice::Append | QIODevice::Text)) {
            file.write((line + "\n").c_str());
        }
    }

    QString logPath_;
    std::vector<std::string> steps_;
};

}  // namespace

int main(int argc, char** argv) {
    TestHookServices services;
    kbr::wizard::CSimpleWizardApp app(services);
    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return app.Run();
}
