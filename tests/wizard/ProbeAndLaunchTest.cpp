// The probe-and-launch sequence and the application around it, driven through recording services:
// which attempts the device answers, whether the configuration program starts, what the user does
// in the failure dialog.

#include "FakeServices.h"
#include "QtTestApp.h"
#include "wizard/CSimpleWizardApp.h"
#include "wizard/ProbeAndLaunch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kbr::wizard::test {
namespace {

using ::testing::ElementsAreArray;

struct ProbeCase {
    const char* name;
    ProbeMode mode;
    std::set<int> answeringAttempts;
    bool launchSucceeds;
    ProbeOutcome outcome;
    std::vector<std::string> events;
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class ProbeAndLaunchTest : public ::testing::TestWithParam<ProbeCase> {
protected:
    void SetUp() override { TestApp(); }
};

TEST_P(ProbeAndLaunchTest, FollowsTheSequence) {
    const ProbeCase& c = GetParam();
    FakeServices services;
    services.answeringAttempts = c.answeringAttempts;
    services.launchSucceeds = c.launchSucceeds;

    // Retry mode reports over the failure dialog, which is on screen during a retry.
    ProbeFailedDialog dialog;
    if (c.mode == ProbeMode::Retry) {
        dialog.show();
    }
    ProbeAndLaunch probe(services);
    EXPECT_EQ(probe.Run(c.mode, c.mode == ProbeMode::Retry ? &dialog : nullptr), c.outcome);
    EXPECT_THAT(services.events, ElementsAreArray(c.events));
    // Only an unreachable device at start leaves the notice for the failure dialog to replace.
    EXPECT_EQ(NoticeShown(), c.outcome == ProbeOutcome::DeviceUnreachable);
    if (c.mode == ProbeMode::Retry) {
        EXPECT_TRUE(dialog.isVisible()) << "a retry never closes the failure dialog";
    }
}

const std::vector<std::string> RENEWAL = {"ipconfig /release", "ipconfig /renew", "wait 3000 +notice"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ProbeAndLaunchTest,
    ::testing::Values(
        // The connection stays open through the wait with the notice up; the notice goes first,
        // then the connection.
        ProbeCase{"StartAnswersAtOnce",
                  ProbeMode::Start,
                  {0},
                  true,
                  ProbeOutcome::Launched,
                  {"open ok +notice", "launch +notice", "wait 3000 +notice", "close"}},
        ProbeCase{"StartAnswersAfterRenewal",
                  ProbeMode::Start,
                  {1},
                  true,
                  ProbeOutcome::Launched,
                  Join({{"open failed +notice"},
                        RENEWAL,
                        {"open ok +notice", "launch +notice", "wait 3000 +notice", "close"}})},
        // Exactly two attempts and one release/renew pair; the notice stays for the failure dialog.
        ProbeCase{"StartNeverAnswers",
                  ProbeMode::Start,
                  {},
                  true,
                  ProbeOutcome::DeviceUnreachable,
                  Join({{"open failed +notice"}, RENEWAL, {"open failed +notice"}})},
        // The message comes without the notice, and the wizard ends at once.
        ProbeCase{"StartLaunchFails",
                  ProbeMode::Start,
                  {0},
                  false,
                  ProbeOutcome::LaunchFailed,
                  {"open ok +notice", "launch failed +notice", "box [Error] Can not execute KBR3300.exe!", "close"}},
        ProbeCase{"RetryAnswersAtOnce",
                  ProbeMode::Retry,
                  {0},
                  true,
                  ProbeOutcome::Reported,
                  {"open ok +notice", "launch +notice", "wait 3500 +notice", "close"}},
        ProbeCase{"RetryAnswersAfterRenewal",
                  ProbeMode::Retry,
                  {1},
                  true,
                  ProbeOutcome::Reported,
                  Join({{"open failed +notice"},
                        RENEWAL,
                        {"open ok +notice", "launch +notice", "wait 3500 +notice", "close"}})},
        ProbeCase{"RetryNeverAnswers",
                  ProbeMode::Retry,
                  {},
                  true,
                  ProbeOutcome::Reported,
                  Join({{"open failed +notice"},
                        RENEWAL,
                        {"open failed +notice",
                         "box [KBR3300] Can not connect to device! owned-by-visible-ProbeFailedDialog !"}})},
        ProbeCase{"RetryLaunchFails",
                  ProbeMode::Retry,
                  {0},
                  false,
                  ProbeOutcome::Reported,
                  {"open ok +notice", "launch failed +notice", "box [Error] Can not execute KBR3300.exe!", "wait 3500",
                   "close"}}),
    [](const auto& info) { return std::string(info.param.name); });

class WizardAppTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
};

TEST_F(WizardAppTest, ConstructorWritesItsTraceLine) {
    FakeServices services;
    ::testing::internal::CaptureStderr();
    CSimpleWizardApp app(services);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "CSimpleWizardApp::CSimpleWizardApp()\n");
    EXPECT_TRUE(services.events.empty());
}

TEST_F(WizardAppTest, AnotherInstanceStopsEverything) {
    FakeServices services;
    services.otherInstance = true;
    services.answeringAttempts = {0};
    CSimpleWizardApp app(services);
    EXPECT_EQ(app.Run(), 0);
    EXPECT_THAT(services.events, ElementsAreArray({"box [Reminder] The program is running!"}));
    EXPECT_EQ(services.attempts, 0);
}

TEST_F(WizardAppTest, LaunchAtStartEndsTheWizard) {
    FakeServices services;
    services.answeringAttempts = {0};
    CSimpleWizardApp app(services);
    app.Run();
    EXPECT_THAT(services.events, ElementsAreArray({"open ok +notice", "launch +notice", "wait 3000 +notice", "close"}));
}

TEST_F(WizardAppTest, UnreachableDeviceShowsTheFailureDialogInsteadOfTheNotice) {
    FakeServices services;
    services.dialogSteps = {"esc"};
    CSimpleWizardApp app(services);
    app.Run();
    EXPECT_THAT(services.events, ElementsAreArray(Join({{"open failed +notice"},
                                                        RENEWAL,
                                                        {"open failed +notice", "failure dialog", "step esc",
                                                         "failure dialog result 2"}})));
    EXPECT_FALSE(NoticeShown());
}

// Enter retries; whatever the retry's outcome the dialog stays; the ways out all give Cancel's 2.
struct DialogCase {
    const char* name;
    std::set<int> answeringAttempts;
    std::vector<std::string> steps;
    std::vector<std::string> eventsAfterDialogOpens;
};

void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.name; }

class FailureDialogRunTest : public ::testing::TestWithParam<DialogCase> {
protected:
    void SetUp() override { TestApp(); }
};

TEST_P(FailureDialogRunTest, HandlesTheUsersChoices) {
    const DialogCase& c = GetParam();
    FakeServices services;
    services.answeringAttempts = c.answeringAttempts;
    services.dialogSteps = c.steps;
    CSimpleWizardApp app(services);
    app.Run();
    const std::vector<std::string> startRun =
        Join({{"open failed +notice"}, RENEWAL, {"open failed +notice", "failure dialog"}});
    std::vector<std::string> expected = Join({startRun, c.eventsAfterDialogOpens});
    EXPECT_THAT(services.events, ElementsAreArray(expected));
}

const std::vector<std::string> RETRY_FAILS =
    Join({{"open failed +notice"},
          RENEWAL,
          {"open failed +notice", "box [KBR3300] Can not connect to device! owned-by-visible-ProbeFailedDialog !"}});

INSTANTIATE_TEST_SUITE_P(
    Choices, FailureDialogRunTest,
    ::testing::Values(DialogCase{"EscEnds", {}, {"esc"}, {"step esc", "failure dialog result 2"}},
                      DialogCase{"CloseBoxEnds", {}, {"close"}, {"step close", "failure dialog result 2"}},
                      DialogCase{"CancelEnds", {}, {"cancel"}, {"step cancel", "failure dialog result 2"}},
                      DialogCase{"HelpKeepsTheDialog",
                                 {},
                                 {"help", "esc"},
                                 {"step help", "help", "dialog still open", "step esc", "failure dialog result 2"}},
                      // Attempts 0 and 1 belong to the start run; each retry makes two more.
                      DialogCase{"EnterRetriesAndAFailedRetryKeepsTheDialog",
                                 {},
                                 {"enter", "enter", "esc"},
                                 Join({{"step enter"},
                                       RETRY_FAILS,
                                       {"dialog still open", "step enter"},
                                       RETRY_FAILS,
                                       {"dialog still open", "step esc", "failure dialog result 2"}})},
                      DialogCase{"SuccessfulRetryKeepsTheDialog",
                                 {2},
                                 {"enter", "esc"},
                                 {"step enter", "open ok +notice", "launch +notice", "wait 3500 +notice", "close",
                                  "dialog still open", "step esc", "failure dialog result 2"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbr::wizard::test
