// The reminder and the IP address refresh, driven offscreen with a stand-in helper and a loopback
// probe target. No test runs the real helper or reaches a non-loopback address.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QNetworkInterface>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "netcheck/IpHelper.h"
#include "netcheck/RefreshVerdict.h"
#include "netcheck/RefreshWaitDialog.h"
#include "netcheck/RefreshWorker.h"
#include "netcheck/ReminderDialog.h"
#include "tests/netcheck/NetcheckTestSupport.h"

namespace {

using namespace netcheck_test;
using kbr::RefreshFlags;
using kbr::RefreshWaitDialog;
using kbr::RefreshWorker;
using kbr::ReminderDialog;

constexpr int WAIT_MS = 10'000;

class Netcheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(qApp, nullptr);
        ASSERT_TRUE(dir_.isValid());
    }
    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    bool Exists(const char* name) const { return QFileInfo::exists(Path(name)); }

    QTemporaryDir dir_;
};

// ---------------------------------------------------------------------------------------------
// What the windows look like.

TEST_F(Netcheck, ReminderShowsItsTextsButtonsAndBitmap) {
    RecordedBoxes boxes;
    ReminderDialog dialog(boxes, TestSettings(dir_.path(), std::make_shared<HelperStub>(), ClosedPort()), nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Reminder");
    EXPECT_EQ(dialog.size(), QSize(491, 164));  // 327 x 101 dialog units
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::WindowTitleHint));

    const char* expected[][2] = {
        {"text1",
         "1. Press the Config/Normal button again to change the KBR3300 back to normal mode.\n2. If you have "
         "changed your computer's fixed IP address to DHCP, change it back to fixed."},
        {"text2",
         "3. If the computer uses DHCP setting to connect to the Internet and you do not want to \nconfigure "
         "another KBR3300, please refresh its IP address from the router by clicking"},
        {"text3",
         "\"Refresh IP address\" button. Be sure the computer has access to the router before click the button."},
    };
    for (const auto& [name, text] : expected) {
        auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text(), QString::fromLatin1(text)) << name;
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }

    auto* ok = dialog.findChild<QPushButton*>("okButton");
    auto* refresh = dialog.findChild<QPushButton*>("refreshButton");
    ASSERT_TRUE(ok && refresh);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(refresh->text(), "Refresh IP address");
    EXPECT_FALSE(refresh->isDefault());
    EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 2);

    dialog.show();
    auto* bitmap = dialog.findChild<QLabel*>("bitmap");
    ASSERT_NE(bitmap, nullptr);
    EXPECT_FALSE(bitmap->pixmap().isNull());
    EXPECT_LT(bitmap->geometry().right(), dialog.findChild<QLabel*>("text1")->geometry().left());
    // Everything fits inside the fixed size, and no text is cut off.
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        EXPECT_TRUE(dialog.rect().contains(child->geometry())) << child->objectName().toStdString();
    }
    for (const auto& [name, text] : expected) {
        auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_LE(label->heightForWidth(label->width()), label->height()) << name;
    }
}

TEST_F(Netcheck, WaitDialogHasOneTextNoButtonsAndPollsOncePerSecond) {
    auto flags = std::make_shared<RefreshFlags>();
    kbr::RefreshSettings settings = TestSettings(dir_.path(), std::make_shared<HelperStub>(), ClosedPort());
    settings.pollIntervalMs = kbr::REFRESH_POLL_MS;
    RefreshWaitDialog wait(flags, settings);
    EXPECT_EQ(wait.windowTitle(), "IP is refreshing...");
    EXPECT_EQ(wait.size(), QSize(360, 83));  // 240 x 51 dialog units
    EXPECT_FALSE(wait.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(wait.findChildren<QPushButton*>().isEmpty());
    const auto labels = wait.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->text(), "Utility is configuring your IP address. Please wait about 2 minutes...");
    const auto timers = wait.findChildren<QTimer*>();
    ASSERT_EQ(timers.size(), 1);
    EXPECT_EQ(timers[0]->interval(), 1000);

    // The worker ends quickly here; the dialog notices at its next tick and closes as with OK.
    EXPECT_TRUE(wait.WorkerStarted());
    ModalGuard guard;
    EXPECT_EQ(wait.exec(), QDialog::Accepted);
    EXPECT_FALSE(guard.timedOut);
    EXPECT_FALSE(flags->RefreshDone.load()) << "the dialog clears RefreshDone when it has seen it";
}

// ---------------------------------------------------------------------------------------------
// Leaving the reminder.

TEST_F(Netcheck, OkDeletesTheHelperFilesEscDeletesNothing) {
    struct Case {
        const char* name;
        bool filesPresent;
        bool pressOk;
    };
    const Case cases[] = {
        {"OK with both files", true, true},
        {"OK with no files", false, true},
        {"Esc with both files", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.filesPresent) {
            WriteFile(Path("ipinfo.tmp"), "10.0.0.7\n");
            WriteFile(Path("nicinfo.tmp"), "[eth0]\n");
        }
        WriteFile(Path("other.txt"), "kept");
        RecordedBoxes boxes;
        ReminderDialog dialog(boxes, TestSettings(dir_.path(), std::make_shared<HelperStub>(), ClosedPort()), nullptr);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        if (c.pressOk) {
            QTest::keyClick(&dialog, Qt::Key_Return);  // OK is the default button
        } else {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        }
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), c.pressOk ? QDialog::Accepted : QDialog::Rejected);
        const bool kept = c.filesPresent && !c.pressOk;
        EXPECT_EQ(Exists("ipinfo.tmp"), kept);
        EXPECT_EQ(Exists("nicinfo.tmp"), kept);
        EXPECT_TRUE(Exists("other.txt"));
        QFile::remove(Path("ipinfo.tmp"));
        QFile::remove(Path("nicinfo.tmp"));
    }
}

TEST_F(Netcheck, ShowReminderIsTheEntryPointForAClosingPageWindow) {
    // The shipped form works in the current directory.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    WriteFile(Path("ipinfo.tmp"), "10.0.0.7\n");
    WriteFile(Path("nicinfo.tmp"), "[eth0]\n");

    ModalGuard guard;
    bool sawReminder = false;
    WhenModalRuns([&](QWidget* modal) {
        auto* reminder = qobject_cast<ReminderDialog*>(modal);
        ASSERT_NE(reminder, nullptr);
        sawReminder = reminder->isModal() && reminder->parentWidget() == nullptr;
        reminder->findChild<QPushButton*>("okButton")->click();
    });
    RecordedBoxes boxes;
    EXPECT_EQ(kbr::ShowReminder(boxes, nullptr), QDialog::Accepted);
    EXPECT_TRUE(sawReminder);
    EXPECT_FALSE(guard.timedOut);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(Exists("ipinfo.tmp"));
    EXPECT_FALSE(Exists("nicinfo.tmp"));
    QDir::setCurrent(previous);
}

// ---------------------------------------------------------------------------------------------
// The refresh and its verdict.

struct RefreshCase {
    const char* name;
    std::optional<QByteArray> helperWrites;  // what the helper leaves in ipinfo.tmp
    bool deviceAnswers;
    const char* message;
};
void PrintTo(const RefreshCase& c, std::ostream* os) { *os << c.name; }

class RefreshVerdicts : public Netcheck, public ::testing::WithParamInterface<RefreshCase> {};

TEST_P(RefreshVerdicts, HelperRunsTwiceThenTheProbeDecides) {
    const RefreshCase& c = GetParam();
    QTcpServer device;
    quint16 port = ClosedPort();
    if (c.deviceAnswers) {
        ASSERT_TRUE(device.listen(QHostAddress::LocalHost, 0));
        port = device.serverPort();
    }
    WriteFile(Path("nicinfo.tmp"), "[eth0]\n");
    auto stub = std::make_shared<HelperStub>(std::vector<std::optional<QByteArray>>{std::nullopt, c.helperWrites});
    RecordedBoxes boxes;
    ReminderDialog dialog(boxes, TestSettings(dir_.path(), stub, port), nullptr);
    dialog.show();

    ModalGuard guard;
    dialog.findChild<QPushButton*>("refreshButton")->click();  // returns once the verdict was answered

    EXPECT_FALSE(guard.timedOut);
    EXPECT_EQ(stub->Calls(), 2);
    EXPECT_EQ(stub->Directories(), std::vector<QString>(2, dir_.path()));
    const auto threads = stub->Threads();
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u) << "the helper must not run on the window thread";

    ASSERT_EQ(boxes.boxes.size(), 1u);
    const kbr::MessageBoxRequest& box = boxes.boxes[0];
    EXPECT_EQ(box.text, QString::fromLatin1(c.message));
    EXPECT_EQ(box.caption, "Reminder");
    EXPECT_EQ(box.type, kbr::MBOX_OK | kbr::MBOX_ICONEXCLAMATION);  // exclamation icon, OK button
    EXPECT_EQ(box.owner, &dialog);

    EXPECT_TRUE(dialog.isVisible()) << "the reminder stays open after a refresh";
    EXPECT_FALSE(Exists("ipinfo.tmp")) << "a read ipinfo.tmp is used up";
    EXPECT_TRUE(Exists("nicinfo.tmp")) << "only OK deletes nicinfo.tmp";
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefreshVerdicts,
    ::testing::Values(RefreshCase{"RouterAddress", "192.168.1.33\n", false, kbr::MSG_REFRESHED},
                      RefreshCase{"DeviceStillInConfigMode", "192.168.1.33\n", true, kbr::MSG_STILL_CONFIG_MODE},
                      RefreshCase{"LinkLocal", "169.254.10.2\n", true, kbr::MSG_NO_ADDRESS},
                      RefreshCase{"NoAddress", "0.0.0.0\n", false, kbr::MSG_NO_ADDRESS},
                      RefreshCase{"OtherAddressDeviceAnswers", "10.0.0.7\n", true, kbr::MSG_REFRESHED},
                      RefreshCase{"EmptyFile", QByteArray(), false, kbr::MSG_NO_ADDRESS},
                      RefreshCase{"HelperWroteNothing", std::nullopt, false, kbr::MSG_NO_ADDRESS}),
    [](const ::testing::TestParamInfo<RefreshCase>& info) { return std::string(info.param.name); });

TEST_F(Netcheck, RefreshesInARowEachStartFromClearedFlagsAndFreshFiles) {
    QTcpServer device;
    ASSERT_TRUE(device.listen(QHostAddress::LocalHost, 0));
    const quint16 port = device.serverPort();
    // Runs 1-2: the device answers and the PC holds a 192.168 address. Runs 3-4: same address but
    // the device is gone. Runs 5-6: the helper writes nothing, so only a file left over could give
    // an address.
    auto stub = std::make_shared<HelperStub>(std::vector<std::optional<QByteArray>>{
        "192.168.1.33\n", "192.168.1.33\n", "192.168.1.33\n", "192.168.1.33\n", std::nullopt, std::nullopt});
    RecordedBoxes boxes;
    ReminderDialog dialog(boxes, TestSettings(dir_.path(), stub, port), nullptr);
    dialog.show();
    ModalGuard guard;

    dialog.Refresh();
    device.close();
    dialog.Refresh();
    dialog.Refresh();

    EXPECT_FALSE(guard.timedOut);
    EXPECT_EQ(stub->Calls(), 6);
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].text, kbr::MSG_STILL_CONFIG_MODE);
    EXPECT_EQ(boxes.boxes[1].text, kbr::MSG_REFRESHED);
    EXPECT_EQ(boxes.boxes[2].text, kbr::MSG_NO_ADDRESS);
}

TEST_F(Netcheck, EscDoesNotEndTheWaitWhileTheWorkerRuns) {
    auto stub = std::make_shared<HelperStub>(std::vector<std::optional<QByteArray>>{"10.0.0.7\n"});
    stub->Hold();
    auto flags = std::make_shared<RefreshFlags>();
    RefreshWaitDialog wait(flags, TestSettings(dir_.path(), stub, ClosedPort()));
    wait.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wait));

    QTest::keyClick(&wait, Qt::Key_Escape);
    wait.close();
    QTest::qWait(50);
    EXPECT_TRUE(wait.isVisible());

    stub->Release();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !wait.isVisible(); }, WAIT_MS));
    EXPECT_EQ(wait.result(), QDialog::Accepted);
    EXPECT_EQ(stub->Calls(), 2);
    EXPECT_TRUE(Exists("ipinfo.tmp")) << "the verdict reads what the helper has just written";
}

TEST_F(Netcheck, AWorkerLeftOverFromAnEarlierRefreshNeverSetsTheNextOnesFlags) {
    QTcpServer device;
    ASSERT_TRUE(device.listen(QHostAddress::LocalHost, 0));

    auto slowStub = std::make_shared<HelperStub>();
    slowStub->Hold();
    auto earlierFlags = std::make_shared<RefreshFlags>();
    {
        RefreshWorker earlier(earlierFlags, TestSettings(dir_.path(), slowStub, device.serverPort()));
        ASSERT_TRUE(earlier.Start());
    }  // abandoned while its helper still runs

    auto nextFlags = std::make_shared<RefreshFlags>();
    RefreshWorker::Run(*nextFlags, TestSettings(dir_.path(), std::make_shared<HelperStub>(), ClosedPort()));
    EXPECT_TRUE(nextFlags->RefreshDone.load());
    nextFlags->RefreshDone.store(false);  // as the wait dialog does when it has seen it

    slowStub->Release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return earlierFlags->RefreshDone.load(); }, WAIT_MS));
    EXPECT_TRUE(earlierFlags->DeviceStillReachable.load());
    EXPECT_FALSE(nextFlags->DeviceStillReachable.load());
    EXPECT_FALSE(nextFlags->RefreshDone.load());
}

// ---------------------------------------------------------------------------------------------
// Running the helper program itself (a recording script stands in for it).

class HelperProgram : public Netcheck {
protected:
    // Writes an executable shell script named `name` into the test directory.
    QString Script(const QString& name, const QByteArray& body) {
        QString path = dir_.filePath(name);
        WriteFile(path, "#!/bin/sh\n" + body);
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
        return path;
    }
    QStringList Log() {
        QFile file(Path("log"));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
};

TEST_F(HelperProgram, TheWorkerRunsNwinfFromTheCurrentDirectoryTwiceWithTwoWaitingForEach) {
    Script("nwinf",
           "echo \"start $* $(pwd -P)\" >> log\nsleep 0.2\necho \"end $*\" >> log\necho 10.0.0.7 > "
           "ipinfo.tmp\n");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    EXPECT_EQ(QFileInfo(kbr::IpHelperProgram()).canonicalFilePath(), QFileInfo(Path("nwinf")).canonicalFilePath());

    kbr::RefreshSettings settings;  // the real helper runner: only the probe target is a test's
    settings.probeAddress = "127.0.0.1";
    settings.probePort = std::to_string(ClosedPort());
    settings.directory = dir_.path();
    auto flags = std::make_shared<RefreshFlags>();
    {
        RefreshWorker worker(flags, settings);  // on its own thread, as in the program
        ASSERT_TRUE(worker.Start());
        EXPECT_TRUE(QTest::qWaitFor([&] { return flags->RefreshDone.load(); }, WAIT_MS));
    }
    QDir::setCurrent(previous);

    const QString here = QFileInfo(dir_.path()).canonicalFilePath();
    EXPECT_EQ(Log(), QStringList({"start 2 " + here, "end 2", "start 2 " + here, "end 2"}));
    EXPECT_FALSE(flags->DeviceStillReachable.load());
}

TEST_F(HelperProgram, AtStartUpTheHelperIsStartedWithOneWithoutWaiting) {
    Script("nwinf", "echo \"$*\" >> log\n");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    EXPECT_TRUE(kbr::StartIpHelperInBackground());
    QDir::setCurrent(previous);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Log() == QStringList({"1"}); }, WAIT_MS)) << Log().join('|').toStdString();
}

TEST_F(HelperProgram, AMissingHelperReturnsAtOnceAndAHungOneIsEnded) {
    QElapsedTimer clock;
    clock.start();
    kbr::RunHelperAndWait(Path("no-such-helper"), {"2"}, dir_.path());
    EXPECT_LT(clock.elapsed(), 5'000);

    const QString hung = Script("hung", "echo started >> log\nexec sleep 60\n");
    clock.restart();
    kbr::RunHelperAndWait(hung, {"2"}, dir_.path(), 300);
    EXPECT_LT(clock.elapsed(), 10'000);
    EXPECT_EQ(Log(), QStringList({"started"}));
}

// ---------------------------------------------------------------------------------------------
// The shipped probe target, reached only inside a private network namespace whose loopback holds
// the device address (CTest runs this through unshare; anywhere else it is skipped).

TEST(PrivateNamespace, TheRefreshProbesTheDeviceAddressOfTheShippedProgram) {
    if (qEnvironmentVariable("KBR_NETCHECK_PRIVATE_NETNS") != "1") GTEST_SKIP() << "runs only inside unshare -n";
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        ASSERT_TRUE(interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            << "not a private namespace: " << interface.name().toStdString();
    }
    const kbr::RefreshSettings shipped;
    ASSERT_EQ(shipped.probeAddress, "192.168.0.20");
    ASSERT_EQ(shipped.probePort, "52121");

    QTemporaryDir dir;
    QTcpServer device;
    ASSERT_TRUE(device.listen(QHostAddress(QStringLiteral("192.168.0.20")), 52121));
    auto stub = std::make_shared<HelperStub>(std::vector<std::optional<QByteArray>>(4, QByteArray("192.168.0.1\n")));
    kbr::RefreshSettings settings;  // the shipped address and port; only the helper is a stand-in
    settings.directory = dir.path();
    settings.runHelper = stub->Runner();
    settings.pollIntervalMs = 20;
    RecordedBoxes boxes;
    ReminderDialog dialog(boxes, settings, nullptr);
    dialog.show();
    ModalGuard guard;

    dialog.Refresh();
    device.close();
    dialog.Refresh();

    EXPECT_FALSE(guard.timedOut);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, kbr::MSG_STILL_CONFIG_MODE);
    EXPECT_EQ(boxes.boxes[1].text, kbr::MSG_REFRESHED);
}

}  // namespace
