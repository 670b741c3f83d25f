// The wizard's windows and its two decisions that need no sequence: who counts as another
// instance, and which help document belongs to which system.

#include "DialogScript.h"
#include "QtTestApp.h"
#include "wizard/HelpDocument.h"
#include "wizard/InstanceCheck.h"
#include "wizard/ProbeFailedDialog.h"
#include "wizard/ProbeNoticeDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QFile>
#include <QSignalSpy>
#include <QWindow>

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

namespace kbr::wizard::test {
namespace {

struct InstanceCase {
    const char* name;
    std::vector<std::string> executables;
    bool otherInstance;
};

void PrintTo(const InstanceCase& c, std::ostream* os) { *os << c.name; }

class InstanceCheckTest : public ::testing::TestWithParam<InstanceCase> {};

TEST_P(InstanceCheckTest, CountsWizardsAndConfigurationPrograms) {
    std::vector<platform::ProcessInfo> processes;
    int64_t pid = 100;
    for (const auto& name : GetParam().executables) {
        processes.push_back({pid++, name});
    }
    EXPECT_EQ(OtherInstanceRunning(processes), GetParam().otherInstance);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, InstanceCheckTest,
    ::testing::Values(InstanceCase{"OnlyItself", {"bash", "KBR3300_Wizardd", "sleep"}, false},
                      InstanceCase{"NamesCompareIgnoringCase", {"kbr3300_WIZARDD"}, false},
                      InstanceCase{"SecondWizard", {"KBR3300_Wizardd", "KBR3300_Wizardd"}, true},
                      InstanceCase{"ConfigurationProgramRunning", {"KBR3300_Wizardd", "kbr3300"}, true},
                      // Started under another file name, the wizard finds none of its own.
                      InstanceCase{"RenamedWizard", {"setup", "bash"}, true},
                      InstanceCase{
                          "SimilarNamesDoNotCount", {"KBR3300_Wizardd", "KBR3300x", "KBR330", "xKBR3300"}, false},
                      // An unreadable process list finds no other instance.
                      InstanceCase{"NoListAtAll", {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HelpDocumentTest, ChoosesByHostAndWindowsVersion) {
    EXPECT_EQ(HelpDocumentFor(HelpHost::Windows, 5), ".\\doc\\xp.htm");
    EXPECT_EQ(HelpDocumentFor(HelpHost::Windows, 6), ".\\doc\\vista.htm");
    for (int major : {0, 4, 7, 10}) {
        EXPECT_EQ(HelpDocumentFor(HelpHost::Windows, major), std::nullopt) << major;
    }
    EXPECT_EQ(HelpDocumentFor(HelpHost::Linux), "doc/linux.htm");
}

TEST(HelpDocumentTest, EveryChosenDocumentShips) {
    for (const auto& document : {*HelpDocumentFor(HelpHost::Windows, 5), *HelpDocumentFor(HelpHost::Windows, 6),
                                 *HelpDocumentFor(HelpHost::Linux)}) {
        std::string path = document;
        std::replace(path.begin(), path.end(), '\\', '/');
        // The documents are shipped as "doc/" from the source folder dhcp-help/.
        if (path.rfind("./", 0) == 0) path.erase(0, 2);
        path.replace(0, path.find('/'), "dhcp-help");
        QFile file(QStringLiteral(KBR_SOURCE_DIR "/") + QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path;
        const QByteArray html = file.readAll();
        EXPECT_TRUE(html.contains("DHCP")) << path;
        EXPECT_TRUE(html.contains("192.168.0.20")) << path;
    }
}

class WizardWindowsTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
};

TEST_F(WizardWindowsTest, NoticeSaysWhatIsHappeningAndCannotBeDismissed) {
    ProbeNoticeDialog notice;
    EXPECT_EQ(notice.windowTitle(), "KBR3300 Wizard");
    EXPECT_EQ(notice.findChild<QLabel*>("noticeText")->text(), "Connect to KBR3300 ....");
    EXPECT_FALSE(notice.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(notice.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(notice.isModal());
    EXPECT_EQ(notice.parentWidget(), nullptr);
    EXPECT_GE(notice.width(), 198);
    EXPECT_GE(notice.height(), 39);

    notice.ShowAndPaint();
    EXPECT_TRUE(notice.isVisible());
    ASSERT_NE(notice.windowHandle(), nullptr);
    EXPECT_TRUE(notice.windowHandle()->isExposed());
    notice.reject();  // Esc
    EXPECT_TRUE(notice.isVisible());
}

TEST_F(WizardWindowsTest, FailureDialogShowsTheChecklist) {
    ProbeFailedDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Connection failed");
    EXPECT_EQ(dialog.findChild<QLabel*>("checksText")->text(),
              "The connection to the KBR3300 adaptor failed. Please check: \n"
              " 1. The KBR3300 is powered by a 5V/1A power adaptor.\n"
              " 2. This PC is directly connected to the KBR3300 with an Ethernet cable.");
    EXPECT_EQ(dialog.findChild<QLabel*>("settingsText")->text(),
              " 3. The Mode Config/Normal button is in position and the Config LED is on.\n"
              " 4. The IP setting of this PC is in DHCP mode, instead of static IP mode.\n");
    EXPECT_EQ(dialog.TryAgainButton()->text(), "Try again");
    EXPECT_EQ(dialog.CancelButton()->text(), "Cancel");
    EXPECT_EQ(dialog.HelpButton()->text(), "Help to configure DHCP");
    EXPECT_TRUE(dialog.TryAgainButton()->isDefault());
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.parentWidget(), nullptr);
    EXPECT_GE(dialog.width(), 432);
    EXPECT_GE(dialog.height(), 174);
}

TEST_F(WizardWindowsTest, FailureDialogButtonsAndKeys) {
    ProbeFailedDialog dialog;
    QSignalSpy retry(&dialog, &ProbeFailedDialog::RetryRequested);
    QSignalSpy help(&dialog, &ProbeFailedDialog::HelpRequested);
    dialog.show();

    PressKey(dialog.focusWidget() ? dialog.focusWidget() : &dialog, Qt::Key_Return);
    PressKey(&dialog, Qt::Key_Enter);
    dialog.TryAgainButton()->click();
    EXPECT_EQ(retry.count(), 3);
    dialog.HelpButton()->click();
    EXPECT_EQ(help.count(), 1);
    EXPECT_TRUE(dialog.isVisible());

    for (const auto& close : std::initializer_list<std::function<void()>>{[&] { PressKey(&dialog, Qt::Key_Escape); },
                                                                          [&] { dialog.close(); },
                                                                          [&] { dialog.CancelButton()->click(); }}) {
        dialog.setResult(0);
        dialog.show();
        close();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), ProbeFailedDialog::ID_CANCEL);
    }
    EXPECT_EQ(retry.count(), 3);
}

}  // namespace
}  // namespace kbr::wizard::test
