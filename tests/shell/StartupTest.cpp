// Start-up of the configuration program with the system replaced by fakes, the main window with
// the fixture page library, and where the program's real services find the page library.
#include "../browser/WebTestSupport.h"
#include "FakeConfigServices.h"

#include "browser/PageLibrary.h"
#include "shell/AboutDialog.h"
#include "shell/ConfigApp.h"
#include "shell/MainDialog.h"
#include "shell/ConfigSystemServices.h"

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

class FakeSystem : public FakeConfigServices {
public:
    bool socketsOk = true;
    std::vector<platform::ProcessInfo> wizards;
    std::vector<int64_t> unkillable;
    std::vector<std::string> log;

    bool InitSockets() override {
        log.emplace_back("sockets");
        return socketsOk;
    }
    std::vector<platform::ProcessInfo> FindProcesses(std::string_view name) override {
        log.push_back("find " + std::string(name));
        return wizards;
    }
    bool TerminateAndWait(int64_t pid) override {
        log.push_back("end " + std::to_string(pid));
        if (std::find(unkillable.begin(), unkillable.end(), pid) != unkillable.end()) return false;
        std::erase_if(wizards, [pid](const platform::ProcessInfo& p) { return p.pid == pid; });
        return true;
    }
    void StartHidden(const std::string& program, const std::vector<std::string>& args) override {
        std::string line = "start " + program;
        for (const auto& a : args) line += " " + a;
        log.push_back(line);
    }
};

const std::string FIND = std::string("find ") + ConfigApp::WIZARD_NAME;
const std::string START_HELPER = std::string("start ") + ConfigApp::IP_HELPER_NAME + " 1";

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
    const FakeSystem& boxes = system;
    ConfigApp app(system);
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
    ::testing::Values(StartupCase{"NoWizard",
                                  true,
                                  {},
                                  {},
                                  1,
                                  false,
                                  {"sockets", FIND},
                                  "The program must execute from KBR3300_Wizardd.exe",
                                  "Invalid Execution"},
                      StartupCase{"SocketsFail",
                                  false,
                                  {{7, "KBR3300_Wizardd"}},
                                  {},
                                  1,
                                  false,
                                  {"sockets"},
                                  "Windows sockets initialization failed.",
                                  "KBR3300"},
                      StartupCase{"OneWizard",
                                  true,
                                  {{7, "KBR3300_Wizardd"}},
                                  {},
                                  0,
                                  true,
                                  {"sockets", FIND, FIND, "end 7", START_HELPER, "main; wizards left 0"},
                                  nullptr,
                                  nullptr},
                      StartupCase{"TwoWizardsOneUnkillable",
                                  true,
                                  {{7, "kbr3300_WIZARDD"}, {9, "KBR3300_Wizardd"}},
                                  {7},
                                  0,
                                  true,
                                  {"sockets", FIND, FIND, "end 7", "end 9", START_HELPER, "main; wizards left 1"},
                                  nullptr,
                                  nullptr}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.name); });

// ---- The main window ------------------------------------------------------------------------

class TempDirectory : public ScratchWorkingDirectory {
public:
    TempDirectory() : ScratchWorkingDirectory("kbr-shell") {}
};

class RecordingMainDialog : public MainDialog {
public:
    using MainDialog::MainDialog;
    bool connectCalled = false;
    bool visibleAtConnect = false;

protected:
    void ConnectToDevice() override {
        connectCalled = true;
        visibleAtConnect = isVisible();
    }
};

TEST(MainDialogStart, WithoutThePageLibraryTheRunEndsAfterTheMessage) {
    FakeConfigServices boxes;
    boxes.pageLibraryPath.clear();  // there is none
    RecordingMainDialog dialog(boxes);
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.connectCalled);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Cannot find PgPack.DLL resource file!");
    EXPECT_EQ(boxes.boxes[0].type, MBOX_OK | MBOX_ICONEXCLAMATION);
}

TEST(MainDialogStart, ShowsTheStartPageTitleAboutAndConnectsBeforeShowing) {
    FakeConfigServices services;
    RecordingMainDialog dialog(services);
    EXPECT_EQ(dialog.windowTitle(), "KBR3300");
    EXPECT_EQ(dialog.size(), QSize(CHtmlDialog::TEMPLATE_WIDTH, CHtmlDialog::TEMPLATE_HEIGHT));
    EXPECT_EQ(dialog.StartUrl(), "res://PgPack.dll//Index.html");

    QString aboutText;
    QString aboutTitle;
    int step = 0;
    // Reads and closes the About box on the first turn of its modal run.
    const auto closeAbout = [&] {
        if (auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
            aboutText = about->VersionLabel()->text();
            aboutTitle = about->windowTitle();
            step = 2;
            about->accept();
        }
    };
    QTimer driver;
    driver.setInterval(50);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (step == 0 && dialog.windowTitle() == "Login Test") {
            step = 1;
            driver.stop();
            ASSERT_NE(dialog.AboutAction(), nullptr);
            EXPECT_EQ(dialog.AboutAction()->text(), "&About KBR3300");
            QTimer::singleShot(0, &dialog, closeAbout);
            dialog.AboutAction()->trigger();  // runs the About box modally
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

// ---- The program's own services: where the page library is found ---------------------------

TEST(SystemServicesPages, TheCurrentDirectorysLibraryInAnyLetterCaseIsReadOnce) {
    TempDirectory dir;
    // The library's name in another letter case still counts.
    std::filesystem::copy_file(KBR_TEST_PGPACK, dir.Path() / "pgpack.DLL");
    ConfigSystemServices services;
    const PageLibrary* pages = services.Pages();
    ASSERT_NE(pages, nullptr);
    EXPECT_TRUE(pages->Loaded()) << pages->Error();
    EXPECT_EQ(pages->Path().filename(), "pgpack.DLL");
    EXPECT_TRUE(pages->Find("//Index.html"));
    // Kept: a library removed once it has been read still serves its pages.
    std::filesystem::remove(dir.Path() / "pgpack.DLL");
    EXPECT_EQ(services.Pages(), pages);
}

TEST(SystemServicesPages, NoLibraryAnywhereGivesNone) {
    TempDirectory dir;  // no PgPack.dll here, nor in the data directory of a test machine
    if (FindPageLibrary()) GTEST_SKIP() << "a page library is installed in " << PageLibraryDataDirectory();
    ConfigSystemServices services;
    EXPECT_EQ(services.Pages(), nullptr);
    // Looked for again later: one that has come since is found.
    std::filesystem::copy_file(KBR_TEST_PGPACK, dir.Path() / "PgPack.dll");
    ASSERT_NE(services.Pages(), nullptr);
    EXPECT_TRUE(services.Pages()->Loaded());
}

}  // namespace
}  // namespace kbr::test
