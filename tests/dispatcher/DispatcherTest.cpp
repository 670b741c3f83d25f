// The page commands of a page window, its queue of device functions and its operations, with the
// fixture pages in offscreen WebEngine. Nothing here talks to a device.
#include "tests/dispatcher/DispatcherSupport.h"

#include "link/Operation.h"
#include "shell/UpgradeProgressDialog.h"

#include <gtest/gtest.h>

namespace kbr::test {
namespace {

using Lines = std::vector<std::string>;

QString FixtureUrl(const char* name) { return QStringLiteral("res://PgPack.dll/") + QString::fromLatin1(name); }

class PageWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(page.Open()); }
    FakeConfigServices services;
    TestPage page{services, FixtureUrl("Index.html")};
};

TEST_F(PageWindow, ResizePlacesTheWindowTheFirstTimeOnly) {
    EXPECT_FALSE(page.FirstResizeMark());
    page.Send("app:1001@770@675");
    EXPECT_TRUE(page.FirstResizeMark());
    EXPECT_EQ(page.frameGeometry(), QRect(30, 20, 770, 675));
    // The browser control takes the outer size too, from the client area's corner, and keeps it
    // through the resize events that follow.
    EXPECT_EQ(page.HtmlCtrl().geometry(), QRect(0, 0, 770, 675));
    QCoreApplication::processEvents();
    EXPECT_EQ(page.HtmlCtrl().geometry(), QRect(0, 0, 770, 675));

    // Later resizes keep wherever the window is now.
    page.move(100, 80);
    page.Send("app:1001@600@500");
    EXPECT_EQ(page.frameGeometry(), QRect(100, 80, 600, 500));

    // Numbers are their leading digits; no digits count as 0.
    page.Send("app:1001@825.6@undefined");
    EXPECT_EQ(page.frameGeometry().topLeft(), QPoint(100, 80));
    EXPECT_EQ(page.frameGeometry().width(), 825);
    EXPECT_EQ(page.height(), 0);  // nothing left inside the frame
    // No "@": the height is the width.
    page.Send("app:1001@640");
    EXPECT_EQ(page.frameGeometry(), QRect(100, 80, 640, 640));
    EXPECT_EQ(page.HtmlCtrl().geometry(), QRect(0, 0, 640, 640));

    // Any other change of the window's size makes the control fill the client area again.
    page.SetWindowSize(300, 200);
    QCoreApplication::processEvents();
    EXPECT_EQ(page.HtmlCtrl().geometry(), page.rect());
    EXPECT_EQ(page.rect().size(), QSize(300, 200));
}

struct BoxCase {
    const char* name;
    const char* command;
    int answer;
    const char* caption;
    const char* text;
    DWORD type;
    Lines log;  // what the page had when the command returned
};

class PageBoxes : public PageWindow, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(PageBoxes, CaptionTextButtonsAndAnswerInsideTheCommand) {
    const BoxCase& c = GetParam();
    FakeConfigServices& boxes = services;
    boxes.boxAnswer = c.answer;
    EXPECT_EQ(page.Send(c.command), c.log);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption.toStdString(), c.caption);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), c.text);
    EXPECT_EQ(boxes.boxes[0].type, c.type);
    EXPECT_EQ(boxes.boxes[0].owner, &page);
}

void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(
    Table, PageBoxes,
    ::testing::Values(
        BoxCase{"Message",
                "app:1004@Setup,Operation%20Successful!",
                ANSWER_OK,
                "Setup",
                "Operation Successful!",
                MBOX_OK,
                {}},
        BoxCase{"MessageWithoutComma",
                "app:1004@Operation%20Successful!",
                ANSWER_OK,
                "",
                "Operation Successful!",
                MBOX_OK,
                {}},
        BoxCase{"OnlyTheFirstCommaSplits", "app:1004@A%20B,x,y%2Cz", ANSWER_OK, "A B", "x,y%2Cz", MBOX_OK, {}},
        BoxCase{"ConfirmNo",
                "app:1008@Setup,Are%20you%20sure?",
                ANSWER_NO,
                "Setup",
                "Are you sure?",
                MBOX_YESNO,
                {"CallbackConfirm 0"}},
        BoxCase{"ConfirmYes",
                "app:1008@Setup,Are%20you%20sure?",
                ANSWER_YES,
                "Setup",
                "Are you sure?",
                MBOX_YESNO,
                {"CallbackConfirm 1"}}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

TEST_F(PageWindow, ConfirmAnswerIsThereWhenTheCommandReturns) {
    services.boxAnswer = ANSWER_NO;
    EXPECT_EQ(page.Run("askAndRead('app:1008@Setup,Are%20you%20sure?')").toString(), "0");
}

TEST_F(PageWindow, AppVersionAndIgnoredCodes) {
    FakeConfigServices& boxes = services;
    EXPECT_EQ(page.Send("app:1007"), Lines{"CallbackAppVer 1.0.0.0"});
    // Codes outside the table, the page set's 2000 among them, do nothing.
    page.Send("app:2000@x");
    page.Send("app:999@x");
    EXPECT_EQ(page.Log(), Lines{"CallbackAppVer 1.0.0.0"});
    EXPECT_TRUE(page.CommandQueue().empty());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PageWindow, QueuedFunctionsStartOnePerTick) {
    page.QueueTimer().stop();  // ticks by hand
    page.Send("app:1003@3:5");
    page.Send("app:1003@4:7");
    page.Send("app:1003@99:dropped");
    page.Send("app:1003@7:");
    EXPECT_EQ(page.CommandQueue(), (std::deque<std::string>{"3:5", "4:7", "99:dropped", "7:"}));

    auto value = [&](std::string_view name) { return FindParameter(page.DeviceState().parameters, name)->valueB; };
    page.PumpCommandQueue();
    EXPECT_EQ(value("channelMask"), "5");
    EXPECT_EQ(value("SwConfig"), "");
    EXPECT_EQ(page.ActiveOperation(), nullptr);
    page.PumpCommandQueue();
    EXPECT_EQ(value("SwConfig"), "7");
    page.PumpCommandQueue();  // not a function: taken off and dropped
    EXPECT_EQ(page.CommandQueue().size(), 1u);
    EXPECT_EQ(page.ActiveOperation(), nullptr);
    page.PumpCommandQueue();
    ASSERT_NE(page.ActiveOperation(), nullptr);
    EXPECT_EQ(page.ActiveOperation()->FunctionNumber(), 7);
    EXPECT_TRUE(page.OperationTimerRunning());
    EXPECT_TRUE(page.CommandQueue().empty());

    // While it runs, nothing else starts.
    page.Send("app:1003@6:1");
    page.PumpCommandQueue();
    EXPECT_EQ(page.CommandQueue().size(), 1u);
    EXPECT_EQ(value("DiplexerMode"), "");
}

TEST_F(PageWindow, TheQueueTimerRunsCommandsInOrder) {
    // "1" has no ":" and is function 0 with the argument "1"; without a link the login waits for
    // its timer.
    page.Send("app:1003@2:pw");
    page.Send("app:1003@1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.ActiveOperation() != nullptr; }, 5000));
    EXPECT_EQ(FindParameter(page.DeviceState().parameters, "admPswd")->valueB, "pw");
    EXPECT_EQ(page.ActiveOperation()->FunctionNumber(), 0);
    EXPECT_EQ(page.OperationTimerPeriod(), 5000);
}

TEST_F(PageWindow, ClearQueueDropsTheOperationAndKeepsTheCallback) {
    page.QueueTimer().stop();
    page.Send("app:1006@CallbackLocal");
    page.Send("app:1003@13:");
    page.Send("app:1003@3:5");
    page.PumpCommandQueue();
    ASSERT_NE(page.ActiveOperation(), nullptr);

    page.Send("app:1005");
    EXPECT_EQ(page.ActiveOperation(), nullptr);
    EXPECT_TRUE(page.CommandQueue().empty());
    EXPECT_EQ(page.CompletionCallback(), "CallbackLocal");
    // Its timer may still tick: it finds no operation.
    page.OnOperationTimer();
    EXPECT_EQ(page.ActiveOperation(), nullptr);
    EXPECT_EQ(page.Log(), Lines{});
}

TEST_F(PageWindow, CompletionCallbackIsCalledOnceAfterItIsSet) {
    // An upgrade from a file that is not there ends at once with completion 1, sending nothing.
    page.QueueTimer().stop();
    FakeConfigServices& boxes = services;
    const std::string upgrade = "app:1003@8:/nonexistent/kbr-image.bin";
    page.Send(upgrade);
    page.PumpCommandQueue();
    page.Send("app:1006@CallbackLocal");
    EXPECT_EQ(page.CompletionCallback(), "CallbackLocal");
    page.Send(upgrade);
    page.PumpCommandQueue();
    EXPECT_EQ(page.CompletionCallback(), "");
    page.Send(upgrade);
    page.PumpCommandQueue();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.Log().size() >= 4; }, 5000));
    EXPECT_EQ(page.Log(), (Lines{"upgradeFailed Not a valid upgrade file!", "upgradeFailed Not a valid upgrade file!",
                                 "CallbackLocal 1", "upgradeFailed Not a valid upgrade file!"}));
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].text, "The file could not be located.");
    EXPECT_EQ(boxes.boxes[0].caption, "KBR3300");
    EXPECT_EQ(page.ActiveOperation(), nullptr);
    // The progress window was made but never shown.
    ASSERT_NE(page.UpgradeProgress(), nullptr);
    EXPECT_FALSE(page.UpgradeProgress()->isVisible());
}

// Records each page call of the dispatcher with the window's completion state at that moment;
// `during` runs inside the call, as page script that the call runs would.
class CallRecordingPage : public TestPage {
public:
    using TestPage::TestPage;
    struct Call {
        std::string function;
        std::vector<std::string> args;
        std::string callbackDuringCall;
        bool notifyingDuringCall;
    };
    std::vector<Call> calls;
    std::function<void()> during;

protected:
    void CallPage(const std::string& function, const std::vector<std::string>& args) override {
        calls.push_back({function, args, CompletionCallback(), NotifyingMark()});
        if (during) during();
        TestPage::CallPage(function, args);
    }
};

TEST(CompletionOrder, TheCallbackNameIsClearedAfterTheCompletionCall) {
    FakeConfigServices services;
    CallRecordingPage page(services, FixtureUrl("Index.html"));
    ASSERT_TRUE(page.Open());
    page.Send("app:1006@CallbackLocal");
    // A page whose completion function registers the next callback right away (as a page that runs
    // inside the call would): the name is cleared after the call, so that registration is gone too.
    page.during = [&] { page.OnAppCommand(AppCommand{1006, "CallbackNext"}); };
    page.CompleteOperation(3);
    ASSERT_EQ(page.calls.size(), 1u);
    EXPECT_EQ(page.calls[0].function, "CallbackLocal");
    EXPECT_EQ(page.calls[0].args, Lines{"3"});
    EXPECT_EQ(page.calls[0].callbackDuringCall, "CallbackLocal");
    EXPECT_TRUE(page.calls[0].notifyingDuringCall);
    EXPECT_EQ(page.CompletionCallback(), "");
    EXPECT_FALSE(page.NotifyingMark());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.Log().empty(); }, 5000));
    EXPECT_EQ(page.Log(), Lines{"CallbackLocal 3"});

    // The next completion calls nothing.
    page.during = nullptr;
    page.CompleteOperation(0);
    EXPECT_EQ(page.calls.size(), 1u);
}

TEST_F(PageWindow, ChildWindowIsTheActivePageWhileOpenAndIsDestroyedAfter) {
    page.QueueTimer().stop();
    page.Send("app:1003@3:5");
    // The child loads, reports, closes itself with code 1000; only then does the command return.
    page.Send("app:1002@child_close.html");
    EXPECT_EQ(page.children->opened, 1);
    EXPECT_EQ(page.children->reports, Lines{"loaded"});
    EXPECT_EQ(services.reminders, 1);
    EXPECT_TRUE(page.children->last.isNull());
    EXPECT_EQ(page.ActivePage(), &page);
    EXPECT_TRUE(page.CommandQueue().empty());
    EXPECT_TRUE(page.isVisible());
}

TEST_F(PageWindow, ClosingShowsTheReminderThenEndsTheRun) {
    bool visibleDuringReminder = false;
    services.duringReminder = [&] { visibleDuringReminder = page.isVisible(); };
    page.Send("app:1000");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page.isVisible(); }, 5000));
    EXPECT_EQ(services.reminders, 1);
    EXPECT_TRUE(visibleDuringReminder);
    EXPECT_TRUE(services.boxes.empty());  // no upgrade runs: no question
    EXPECT_EQ(page.result(), QDialog::Rejected);
    // A late close of a window whose run is over shows nothing again.
    page.close();
    EXPECT_EQ(services.reminders, 1);
}

TEST(UpgradeProgress, RangeAdvanceAndClamp) {
    QWidget owner;
    UpgradeProgressDialog progress(&owner);
    EXPECT_EQ(progress.windowTitle(), "Upgrade Progress");
    EXPECT_EQ(progress.size(), QSize(279, 54));
    EXPECT_FALSE(progress.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(progress.isModal());
    progress.Begin(6);
    EXPECT_TRUE(progress.isVisible());
    EXPECT_EQ(progress.Maximum(), 6);
    EXPECT_EQ(progress.Position(), 0);
    for (int i = 0; i < 9; ++i) progress.Advance();  // section 2 larger than section 1
    EXPECT_EQ(progress.Position(), 6);
    progress.Begin(2);
    EXPECT_EQ(progress.Position(), 0);
    progress.close();  // no close box: only the upgrade hides it
    EXPECT_TRUE(progress.isVisible());
    progress.hide();
}

}  // namespace
}  // namespace kbr::test
