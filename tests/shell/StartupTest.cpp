// Start-up of the configuration program with the system replaced by fakes, and the main window
// with the fixture page library.
#include "../browser/WebTestSupport.h"

#include "browser/PageLibrary.h"
#include "shell/AboutDialog.h"
#include "shell/ConfigApp.h"
#include "shell/MainDialog.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace kbr::test {
namespace {

// ---- ConfigApp with a fake system ---------------------------------------------------------

struct FakeSystem {
    bool socketsOk = true;
    std::vector<platform::ProcessInfo> wizards;
    std::vector<int64_t> unkillable;
    std::vector<std::string> log;

    StartupSystem Make() {
        StartupSystem s;
        s.initSockets = [this] {
            log.push_back("sockets");
            return socketsOk;
        };
        s.findProcesses = [this](std::string_view name) {
            log.push_back("find " + std::string(name));
            return wizards;
        };
        s.terminateAndWait = [this](int64_t pid) {
            log.push_back("end " + std::to_string(pid));
            if (std::find(unkillable.begin(), unkillable.end(), pid) != unkillable.end()) return false;
            std::erase_if(wizards, [pid](const platform::ProcessInfo& p) { return p.pid == pid; });
            return true;
        };
        s.startHidden = [this](const std::string& program, const std::vector<std::string>& args) {
            std::string line = "start " + program;
            for (const auto& a : args) line += " " + a;
            log.push_back(line);
        };
        return s;
    }
};

const std::string kFind = std::string("find ") + ConfigApp::kWizardName;
const std::string kStartHelper = std::string("start ") + ConfigApp::kIpHelperName + " 1";

struct StartupCase {
    const char* name;
    bool socketsOk;
    std::vector<platform::ProcessInfo> wizards;
    std::vector<int64_t> unkillable;
    int exitCode;
    bool mainRuns;
    std::vector<std::string> log;  // without the main window
    const char* box;               // text of the one box shown, or null
    const char* caption;
};

class Startup : public ::testing::TestWithParam<StartupCase> {};

TEST_P(Startup, StepsMessagesAndOutcome) {
    const StartupCase& c = GetParam();
    FakeSystem system;
    system.socketsOk = c.socketsOk;
    system.wizards = c.wizards;
    system.unkillable = c.unkillable;
    BoxRecorder boxes;
    ConfigApp app(system.Make());
    bool mainRan = false;
    const int code = app.Run([&] {
        mainRan = true;
        system.log.push_back("main; wizards left " + std::to_string(system.wizards.size()));
        return 0;
    });
    EXPECT_EQ(code, c.exitCode);
    EXPECT_EQ(mainRan, c.mainRuns);
    EXPECT_EQ(system.log, c.log);
    if (c.box) {
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text.toStdString(), c.box);
        EXPECT_EQ(boxes.boxes[0].caption.toStdString(), c.caption);
        EXPECT_EQ(boxes.boxes[0].owner, nullptr);
        EXPECT_EQ(boxes.boxes[0].type, MBOX_OK);
    } else {
        EXPECT_TRUE(boxes.boxes.empty());
    }
}

void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(
    Table, Startup,
    ::testing::Values(
        StartupCase{"NoWizard", true, {}, {}, 1, false, {"sockets", kFind}, "The program must execute from KBR3300_Wizardd.exe",
                    "Invalid Execution"},
        StartupCase{"SocketsFail", false, {{7, "KBR3300_Wizardd"}}, {}, 1, false, {"sockets"},
                    "Windows sockets initialization failed.", "KBR3300"},
        StartupCase{"OneWizard", true, {{7, "KBR3300_Wizardd"}}, {}, 0, true,
                    {"sockets", kFind, kFind, "end 7", kStartHelper, "main; wizards left 0"}, nullptr, nullptr},
        StartupCase{"TwoWizardsOneUnkillable", true, {{7, "kbr3300_WIZARDD"}, {9, "KBR3300_Wizardd"}}, {7}, 0, true,
                    {"sockets", kFind, kFind, "end 7", "end 9", kStartHelper, "main; wizards left 1"}, nullptr,
                    nullptr}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.name); });

// ---- The main window ------------------------------------------------------------------------

class TempDirectory : public ScratchWorkingDirectory {
public:
    TempDirectory() : ScratchWorkingDirectory("kbr-shell") {}
};

class RecordingMainDialog : public MainDialog {
public:
    bool connectCalled = false;
    bool visibleAtConnect = false;

protected:
    void ConnectToDevice() override {
        connectCalled = true;
        visibleAtConnect = isVisible();
    }
};

TEST(MainDialogStart, WithoutThePageLibraryTheRunEndsAfterTheMessage) {
    TempDirectory dir;  // no PgPack.dll here, nor in the data directory of a test machine
    if (FindPageLibrary()) GTEST_SKIP() << "a page library is installed in " << PageLibraryDataDirectory();
    BoxRecorder boxes;
    RecordingMainDialog dialog;
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.connectCalled);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Cannot find PgPack.DLL resource file!");
    EXPECT_EQ(boxes.boxes[0].type, MBOX_OK | MBOX_ICONEXCLAMATION);
}

TEST(MainDialogStart, ShowsTheStartPageTitleAboutAndConnectsBeforeShowing) {
    TempDirectory dir;
    // The library's name in another letter case still counts.
    std::filesystem::copy_file(KBR_TEST_PGPACK, dir.Path() / "pgpack.DLL");

    RecordingMainDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "KBR3300");
    EXPECT_EQ(dialog.size(), QSize(CHtmlDialog::kTemplateWidth, CHtmlDialog::kTemplateHeight));
    EXPECT_EQ(dialog.StartUrl(), "res://PgPack.dll//Index.html");

    QString aboutText;
    QString aboutTitle;
    int step = 0;
    // Closes the About box once it is up (a timer of its own: a timer does not fire again while
    // its own slot runs the box).
    QTimer aboutCloser;
    aboutCloser.setInterval(50);
    QObject::connect(&aboutCloser, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* about = qobject_cast<AboutDialog*>(w); about && about->isVisible()) {
                aboutText = about->VersionLabel()->text();
                aboutTitle = about->windowTitle();
                step = 2;
                about->accept();
            }
        }
    });
    QTimer driver;
    driver.setInterval(50);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (step == 0 && dialog.windowTitle() == "Login Test") {
            step = 1;
            driver.stop();
            ASSERT_NE(dialog.AboutAction(), nullptr);
            EXPECT_EQ(dialog.AboutAction()->text(), "&About KBR3300");
            aboutCloser.start();
            dialog.AboutAction()->trigger();  // runs the About box modally
            aboutCloser.stop();
            if (step == 2) step = 3;
            dialog.reject();
        }
    });
    driver.start();
    // A bound on the whole run: whatever is modal is closed.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    guard.start(90000);
    dialog.exec();
    driver.stop();
    guard.stop();

    EXPECT_EQ(step, 3);
    EXPECT_EQ(aboutTitle, "About KBR3300");
    EXPECT_EQ(aboutText, "1.0.0.0");
    EXPECT_TRUE(dialog.connectCalled);
    EXPECT_FALSE(dialog.visibleAtConnect);  // the attempt is made while the window is initialised
    EXPECT_EQ(dialog.DeviceAddress(), "192.168.0.20");
    EXPECT_EQ(dialog.DevicePort(), "52121");
    EXPECT_EQ(dialog.HtmlCtrl().PageTitle(), "Login Test");
    EXPECT_EQ(dialog.HtmlCtrl().geometry(), dialog.rect());
    EXPECT_FALSE(dialog.windowIcon().isNull());
}

}  // namespace
}  // namespace kbr::test
