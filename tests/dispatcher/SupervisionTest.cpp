// The main window as the program's device link, against kbr3300-devsim on loopback: replies reach
// the operations of the ActivePage, a lost connection brings the reconnect question, and closing
// page windows asks and reminds.
#include "tests/dispatcher/DispatcherSupport.h"

#include "devtools/image/ImageBuilder.h"
#include "link/Operation.h"
#include "shell/UpgradeProgressDialog.h"
#include "testkit/DevsimHarness.h"

#include <QShowEvent>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

#include <unistd.h>

namespace kbr::test {
namespace {

using devsim::test::DevsimProcess;
using devsim::test::ScratchDir;
using Lines = std::vector<std::string>;

constexpr int WAIT_MS = 15000;

// Answers the reconnect question from a list (then No), records every box.
class Questions {
public:
    explicit Questions(FakeConfigServices& services, std::vector<int> answers = {})
        : services_(services), answers_(std::move(answers)) {
        services_.onBox = [this](const MessageBoxRequest& request) {
            boxes.push_back(request);
            if (request.text != MainDialog::RECONNECT_QUESTION) return ANSWER_OK;
            if (onQuestion) onQuestion(request);
            ++asked;
            return asked <= answers_.size() ? answers_[asked - 1] : ANSWER_NO;
        };
    }
    ~Questions() { services_.onBox = nullptr; }
    std::vector<MessageBoxRequest> boxes;
    size_t asked = 0;
    std::function<void(const MessageBoxRequest&)> onQuestion;

private:
    FakeConfigServices& services_;
    std::vector<int> answers_;
};

class Supervision : public ::testing::Test {
protected:
    // Starts the simulator and a connected main window on it.
    void Begin(const std::vector<std::string>& devsimArgs) {
        std::string error;
        ASSERT_TRUE(sim.Start(devsimArgs, &error)) << error;
        main = std::make_unique<TestMain>(services, sim.Port());
        ASSERT_TRUE(main->Open());
        ASSERT_TRUE(QTest::qWaitFor([&] { return main->IsOpen(); }, WAIT_MS));
    }
    // Logs in, as the login page does before anything that changes the device, and clears the
    // page's record of it.
    void LogIn() {
        main->Send("app:1003@0:admin");
        ASSERT_EQ(WaitForLog(1), Lines{"CallbackLogin 0"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return main->ActiveOperation() == nullptr; }, WAIT_MS));
        main->Run("log.length = 0");
    }
    // Waits until the main window shows the start page of a reconnect, loaded and working.
    bool WaitForStartPage() {
        return QTest::qWaitFor(
            [&] {
                return main->Run("location.pathname + ' ' + document.readyState + ' ' + typeof send").toString() ==
                       "/index.html complete function";
            },
            WAIT_MS);
    }
    // Waits until the page has recorded `count` calls.
    Lines WaitForLog(size_t count) {
        Lines log;
        (void)QTest::qWaitFor(
            [&] {
                log = main->Log();
                return log.size() >= count;
            },
            WAIT_MS);
        return log;
    }

    FakeConfigServices services;
    DevsimProcess sim;
    std::unique_ptr<TestMain> main;
};

struct LoginCase {
    const char* name;
    const char* devicePassword;
    const char* command;  // the argument of code 1003
    const char* loginResult;
};

class Login : public Supervision, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(Login, ReportsTheStatusThenCompletes) {
    const LoginCase& c = GetParam();
    Begin({"--password", c.devicePassword});
    main->Send("app:1006@CallbackLocal");
    main->Send(std::string("app:1003@") + c.command);
    EXPECT_EQ(WaitForLog(2), (Lines{std::string("CallbackLogin ") + c.loginResult, "CallbackLocal 0"}));
    EXPECT_EQ(main->ActiveOperation(), nullptr);
}

void PrintTo(const LoginCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Table, Login,
                         ::testing::Values(LoginCase{"Accepted", "admin", "0:admin", "0"},
                                           LoginCase{"Refused", "admin", "0:wrong", "1"},
                                           // No ":": function 0 with the whole text as password.
                                           LoginCase{"BareNumberIsThePassword", "1", "1", "0"}),
                         [](const ::testing::TestParamInfo<LoginCase>& info) { return std::string(info.param.name); });

TEST_F(Supervision, SixteenByteReplyNeverReachesTheOperation) {
    Begin({"--fault", "0:1:short16"});
    Questions boxes(services);
    main->Send("app:1006@CallbackLocal");
    main->Send("app:1003@0:admin");
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->reads16 == 1; }, WAIT_MS));
    QTest::qWait(100);  // anything the read could have caused has had its turn
    ASSERT_NE(main->ActiveOperation(), nullptr);
    EXPECT_EQ(main->ActiveOperation()->FunctionNumber(), 0);
    EXPECT_TRUE(main->IsOpen());  // no effect on the link either

    // OPERATION_TIMER's expiry, without waiting 5 s for it.
    main->OnOperationTimer();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Unable to login");
    EXPECT_EQ(main->ActiveOperation(), nullptr);
    EXPECT_EQ(boxes.asked, 0u);

    // The callback is still set: the next login, answered normally, is the first to complete.
    main->Send("app:1003@0:admin");
    EXPECT_EQ(WaitForLog(2), (Lines{"CallbackLogin 0", "CallbackLocal 0"}));
}

TEST_F(Supervision, RepliesReachTheChildWindowWhileItIsOpen) {
    Begin({});
    main->Send("app:1002@child_fw.html");  // returns when the child has closed itself
    EXPECT_EQ(main->children->reports, Lines{"1.0.2.3|0"});
    EXPECT_EQ(services.reminders, 1);
    EXPECT_EQ(main->ActivePage(), main.get());
    EXPECT_TRUE(main->children->last.isNull());
}

struct AbsentCase {
    const char* name;
    std::vector<int> answers;
    size_t questions;
};

class DeviceAbsent : public ::testing::TestWithParam<AbsentCase> {};

TEST_P(DeviceAbsent, QuestionAfterTheWindowShowsUntilNo) {
    const AbsentCase& c = GetParam();
    FakeConfigServices services;
    Questions questions(services, c.answers);
    TestMain main(services, devsim::test::UnusedLoopbackPort());
    std::vector<bool> shown;
    questions.onQuestion = [&](const MessageBoxRequest&) { shown.push_back(main.isVisible()); };
    QTimer guard;  // a bound on the whole run
    QObject::connect(&guard, &QTimer::timeout, [&] { main.reject(); });
    guard.start(60000);
    EXPECT_EQ(main.exec(), QDialog::Rejected);
    guard.stop();

    EXPECT_EQ(questions.asked, c.questions);
    EXPECT_EQ(shown, std::vector<bool>(c.questions, true));
    ASSERT_FALSE(questions.boxes.empty());
    const MessageBoxRequest& first = questions.boxes[0];
    EXPECT_EQ(first.text,
              "Lost connection to device.  Select 'Yes' to attempt to reconnect?  Select 'No' to close "
              "application.");
    EXPECT_EQ(first.caption, "KBR3300");
    EXPECT_EQ(first.type, MBOX_YESNO | MBOX_ICONEXCLAMATION);
    EXPECT_EQ(first.owner, &main);
    EXPECT_EQ(services.reminders, 1);  // No closes the program the usual way
    EXPECT_TRUE(main.ClosingMark());
    EXPECT_FALSE(main.IsOpen());
}

void PrintTo(const AbsentCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Table, DeviceAbsent,
                         ::testing::Values(AbsentCase{"NoEnds", {}, 1},
                                           AbsentCase{"YesWhileAwayAsksAgain", {ANSWER_YES, ANSWER_YES}, 3}),
                         [](const ::testing::TestParamInfo<AbsentCase>& info) { return std::string(info.param.name); });

// The main window that notes, at its first connection attempt, whether it is on screen, and,
// when it is first shown, whether the link is open by then.
class ConnectionWatch : public TestMain {
public:
    using TestMain::TestMain;
    std::vector<bool> visibleAtAttempt;
    std::optional<bool> openWhenShown;

protected:
    void ConnectToDevice() override {
        visibleAtAttempt.push_back(isVisible());
        TestMain::ConnectToDevice();
    }
    void showEvent(QShowEvent* event) override {
        if (!openWhenShown) openWhenShown = IsOpen();
        TestMain::showEvent(event);
    }
};

TEST(FirstConnection, IsMadeWhileTheWindowIsInitialisedBeforeItIsShown) {
    FakeConfigServices services;
    DevsimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.Start({}, &error)) << error;
    ConnectionWatch main(services, sim.Port());
    bool openOnScreen = false;
    // The first turn of the modal run's event loop: the window is up by then.
    QTimer::singleShot(0, &main, [&] {
        openOnScreen = main.isVisible() && main.IsOpen() && main.IsReceiving();
        main.reject();
    });
    EXPECT_EQ(main.exec(), QDialog::Rejected);
    EXPECT_EQ(main.visibleAtAttempt, std::vector<bool>{false});
    EXPECT_EQ(main.openWhenShown, std::optional<bool>(true));
    EXPECT_TRUE(openOnScreen);
}

TEST_F(Supervision, YesWithAChildOpenClosesItAndShowsTheStartPage) {
    // The child's firmware-version read makes the simulator drop the connection.
    Begin({"--fault", "64:1:close"});
    Questions questions(services, {ANSWER_YES});
    main->Send("app:1002@child_fw.html");  // returns when the child has been closed
    EXPECT_EQ(questions.asked, 1u);
    EXPECT_TRUE(main->children->reports.empty());
    EXPECT_TRUE(main->children->last.isNull());
    EXPECT_EQ(services.reminders, 1);  // the child's close
    EXPECT_EQ(main->ActivePage(), main.get());
    EXPECT_TRUE(main->isVisible());
    ASSERT_TRUE(WaitForStartPage());
    EXPECT_TRUE(main->IsOpen());  // connected again

    // The new connection works (its first value read would be dropped again: faults count per
    // connection), so the reloaded page logs in.
    ASSERT_TRUE(WaitForStartPage());
    main->Send("app:1003@0:admin");
    EXPECT_EQ(WaitForLog(1), Lines{"CallbackLogin 0"});
    EXPECT_EQ(questions.asked, 1u);
}

TEST_F(Supervision, NoWithAChildOpenClosesBothWindows) {
    Begin({"--fault", "64:1:close"});
    Questions questions(services, {ANSWER_NO});
    main->Send("app:1002@child_fw.html");  // returns when the child has been closed
    EXPECT_EQ(questions.asked, 1u);
    EXPECT_TRUE(main->children->last.isNull());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !main->isVisible(); }, WAIT_MS));
    EXPECT_EQ(services.reminders, 2);  // the child's close, then the main window's
    EXPECT_TRUE(main->ClosingMark());
    EXPECT_FALSE(main->IsOpen());
}

TEST_F(Supervision, RepeatedLossReportsOfOneBreakAskOnce) {
    Begin({});
    Questions questions(services, {ANSWER_YES});
    // Three reports of one break queued before the first is handled (as a receive thread that
    // reported every failed read would post them).
    for (int i = 0; i < 3; ++i) main->OnLinkEvent(DeviceLink::LINK_LOST);
    ASSERT_TRUE(QTest::qWaitFor([&] { return questions.asked == 1 && main->IsOpen(); }, WAIT_MS));
    QTest::qWait(200);
    EXPECT_EQ(questions.asked, 1u);
    // A 16-byte read is no loss.
    main->OnLinkEvent(DeviceLink::LINK_READ16);
    QTest::qWait(50);
    EXPECT_EQ(questions.asked, 1u);
    // A new break of the new connection is asked about again.
    main->OnLinkEvent(DeviceLink::LINK_LOST);
    ASSERT_TRUE(QTest::qWaitFor([&] { return questions.asked == 2; }, WAIT_MS));
}

TEST_F(Supervision, LossWhileClosingAsksNothing) {
    Begin({});
    Questions questions(services, {ANSWER_YES});
    services.duringReminder = [&] {
        // The device goes away while the Reminder is up.
        (void)sim.Stop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !main->IsOpen(); }, WAIT_MS));
        QTest::qWait(50);
    };
    main->close();
    EXPECT_EQ(services.reminders, 1);
    EXPECT_EQ(questions.asked, 0u);
    EXPECT_TRUE(main->ClosingMark());
    EXPECT_FALSE(main->isVisible());
}

std::string WriteImage(const ScratchDir& dir) {
    std::string error;
    // Section 1 of 1024 bytes: four chunks, progress range 0..6.
    auto bytes = BuildUpgradeImage(StandardImageSpec("KBR3300", "2.0.0.0", "2.0.0.1", 1024, 600), &error);
    EXPECT_TRUE(bytes) << error;
    std::string path = dir.File("image.bin");
    EXPECT_TRUE(WriteImageFile(path, *bytes, &error)) << error;
    return path;
}

TEST_F(Supervision, LostConnectionDuringAnUpgradeHidesItsProgress) {
    ScratchDir dir;
    const std::string image = WriteImage(dir);
    Begin({"--fault", "12:3:close"});
    LogIn();
    Questions questions(services, {ANSWER_YES});
    bool progressShownAtQuestion = true;
    questions.onQuestion = [&](const MessageBoxRequest&) {
        progressShownAtQuestion = main->UpgradeProgress() && main->UpgradeProgress()->isVisible();
    };
    main->Send("app:1006@CallbackLocal");
    main->Send("app:1003@8:" + image);
    ASSERT_TRUE(QTest::qWaitFor([&] { return questions.asked == 1; }, WAIT_MS));
    ASSERT_NE(main->UpgradeProgress(), nullptr);
    EXPECT_EQ(main->UpgradeProgress()->Maximum(), 6);
    EXPECT_GE(main->UpgradeProgress()->Position(), 2);
    EXPECT_FALSE(progressShownAtQuestion);
    EXPECT_FALSE(main->UpgradeProgress()->isVisible());
    EXPECT_EQ(main->ActiveOperation(), nullptr);
    ASSERT_TRUE(WaitForStartPage());
    EXPECT_TRUE(main->IsOpen());
    EXPECT_EQ(questions.asked, 1u);
}

TEST_F(Supervision, ClosingDuringAnUpgradeAsksFirst) {
    ScratchDir dir;
    const std::string image = WriteImage(dir);
    // The second chunk is never answered: the upgrade stays active.
    Begin({"--fault", "12:2:silent"});
    LogIn();
    std::vector<int> answers{ANSWER_NO, ANSWER_YES};
    std::vector<MessageBoxRequest> asked;
    services.onBox = [&](const MessageBoxRequest& request) {
        asked.push_back(request);
        const int answer = answers.empty() ? ANSWER_NO : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        return answer;
    };
    main->Send("app:1003@8:" + image);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return main->UpgradeProgress() && main->UpgradeProgress()->Position() >= 1; }, WAIT_MS));
    ASSERT_NE(main->ActiveOperation(), nullptr);

    main->close();  // No: the window and the upgrade stay
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text,
              "Closing upgrade window now will halt upgrade and can leave the device in an unusable "
              "state.  Continue?");
    EXPECT_EQ(asked[0].caption, "KBR3300");
    EXPECT_EQ(asked[0].type, MBOX_YESNO);
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(services.reminders, 0);
    ASSERT_NE(main->ActiveOperation(), nullptr);
    EXPECT_EQ(main->ActiveOperation()->FunctionNumber(), 8);
    EXPECT_TRUE(main->UpgradeProgress()->isVisible());

    // Yes: the Reminder comes while the upgrade still runs; the window closes after it.
    bool upgradeDuringReminder = false;
    services.duringReminder = [&] {
        upgradeDuringReminder =
            main->ActiveOperation() &&
            main->ActiveOperation()->FunctionNumber() == FunctionNumber(PageFunction::FUNC_UPGRADE_IMAGE) &&
            main->UpgradeProgress()->isVisible();
    };
    main->close();
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(services.reminders, 1);
    EXPECT_TRUE(upgradeDuringReminder);
    EXPECT_FALSE(main->isVisible());
    services.onBox = nullptr;
}

TEST_F(Supervision, TheTransferGoesOnWhileTheReminderIsUp) {
    ScratchDir dir;
    // Large enough that the transfer is still running when the window is closed.
    std::string error;
    auto bytes = BuildUpgradeImage(StandardImageSpec("KBR3300", "2.0.0.0", "2.0.0.1", 256 * 1024, 600), &error);
    ASSERT_TRUE(bytes) << error;
    const std::string image = dir.File("big.bin");
    ASSERT_TRUE(WriteImageFile(image, *bytes, &error)) << error;
    Begin({});
    LogIn();
    std::vector<std::string> asked;
    services.onBox = [&](const MessageBoxRequest& request) {
        asked.push_back(request.text.toStdString());
        return ANSWER_YES;
    };
    main->Send("app:1006@CallbackLocal");
    main->Send("app:1003@8:" + image);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return main->UpgradeProgress() && main->UpgradeProgress()->Position() >= 1; }, WAIT_MS));

    bool runningAtReminder = false;
    Lines logAfterReminder;
    services.duringReminder = [&] {
        runningAtReminder = main->ActiveOperation() && main->ActiveOperation()->FunctionNumber() ==
                                                           FunctionNumber(PageFunction::FUNC_UPGRADE_IMAGE);
        // The user reads the Reminder; meanwhile the transfer finishes.
        logAfterReminder = WaitForLog(1);
    };
    main->close();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], MainDialog::CLOSE_UPGRADE_QUESTION);
    EXPECT_EQ(services.reminders, 1);
    EXPECT_TRUE(runningAtReminder);
    EXPECT_EQ(logAfterReminder, Lines{"CallbackLocal 0"});
    EXPECT_FALSE(main->isVisible());
    services.onBox = nullptr;
}

}  // namespace
}  // namespace kbr::test
