// The real message box: the platform's style bits become its icon and buttons, and each way of
// closing it gives the platform's answer. Each box is answered from its own modal run.
#include "widgets/MessageBox.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace kbr {
namespace {

using B = QMessageBox::StandardButton;

struct Seen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::vector<B> buttons;
    B defaultButton = B::NoButton;
    QWidget* parent = nullptr;
};

// Shows the box and, once its modal run is under way, notes what it looks like and lets `answer`
// close it.
int RunAndAnswer(const MessageBoxRequest& request, const std::function<void(QMessageBox&)>& answer, Seen* seen) {
    QTimer::singleShot(0, qApp, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        if (seen) {
            *seen = Seen{box->windowTitle(), box->text(), box->icon(), {}, B::NoButton, box->parentWidget()};
            for (QAbstractButton* button : box->buttons()) seen->buttons.push_back(box->standardButton(button));
            std::sort(seen->buttons.begin(), seen->buttons.end());
            if (box->defaultButton()) seen->defaultButton = box->standardButton(box->defaultButton());
        }
        answer(*box);
    });
    return RunMessageBox(request);
}

struct BoxCase {
    const char* name;
    uint32_t type;
    QMessageBox::Icon icon;
    std::vector<std::pair<B, int>> buttons;  // the first is the default
    int escapeAnswer;
};

void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.name; }

class RealBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(RealBox, IconButtonsAndAnswers) {
    const BoxCase& c = GetParam();
    QWidget owner;
    const MessageBoxRequest request{&owner, QStringLiteral("Text\nof the box"), QStringLiteral("Caption"), c.type};
    for (const auto& [button, answer] : c.buttons) {
        Seen seen;
        const B which = button;
        EXPECT_EQ(RunAndAnswer(
                      request, [which](QMessageBox& box) { box.button(which)->click(); }, &seen),
                  answer);
        EXPECT_EQ(seen.title, "Caption");
        EXPECT_EQ(seen.text, "Text\nof the box");
        EXPECT_EQ(seen.icon, c.icon);
        EXPECT_EQ(seen.parent, &owner);
        std::vector<B> expected;
        for (const auto& pair : c.buttons) expected.push_back(pair.first);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(seen.buttons, expected);
        EXPECT_EQ(seen.defaultButton, c.buttons.front().first);
    }
    EXPECT_EQ(RunAndAnswer(
                  request, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, nullptr),
              c.escapeAnswer);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, RealBox,
    ::testing::Values(BoxCase{"Ok", MBOX_OK, QMessageBox::NoIcon, {{B::Ok, ANSWER_OK}}, ANSWER_OK},
                      BoxCase{"OkCancelQuestion",
                              MBOX_OKCANCEL | MBOX_ICONQUESTION,
                              QMessageBox::Question,
                              {{B::Ok, ANSWER_OK}, {B::Cancel, ANSWER_CANCEL}},
                              ANSWER_CANCEL},
                      BoxCase{"AbortRetryIgnoreStop",
                              MBOX_ABORTRETRYIGNORE | MBOX_ICONHAND,
                              QMessageBox::Critical,
                              {{B::Abort, ANSWER_ABORT}, {B::Retry, ANSWER_RETRY}, {B::Ignore, ANSWER_IGNORE}},
                              ANSWER_ABORT},
                      BoxCase{"YesNoCancelInformation",
                              MBOX_YESNOCANCEL | MBOX_ICONASTERISK,
                              QMessageBox::Information,
                              {{B::Yes, ANSWER_YES}, {B::No, ANSWER_NO}, {B::Cancel, ANSWER_CANCEL}},
                              ANSWER_CANCEL},
                      BoxCase{"YesNoExclamation",
                              MBOX_YESNO | MBOX_ICONEXCLAMATION,
                              QMessageBox::Warning,
                              {{B::Yes, ANSWER_YES}, {B::No, ANSWER_NO}},
                              ANSWER_NO},
                      BoxCase{"RetryCancel",
                              MBOX_RETRYCANCEL,
                              QMessageBox::NoIcon,
                              {{B::Retry, ANSWER_RETRY}, {B::Cancel, ANSWER_CANCEL}},
                              ANSWER_CANCEL}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

TEST(RealBoxOwner, ABoxWithoutOwnerHasNoParent) {
    Seen seen;
    EXPECT_EQ(RunAndAnswer(
                  {nullptr, QStringLiteral("x"), QStringLiteral("KBR3300"), MBOX_OK},
                  [](QMessageBox& box) { box.button(B::Ok)->click(); }, &seen),
              ANSWER_OK);
    EXPECT_EQ(seen.parent, nullptr);
    EXPECT_EQ(seen.title, "KBR3300");
}

}  // namespace
}  // namespace kbr
