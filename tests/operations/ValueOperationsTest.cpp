// Login, the action request, value reads, the event contract every operation keeps, and the
// parsing of queued function commands.

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>

#include "link/ValueOperations.h"
#include "tests/operations/FakeContext.h"

namespace kbr::test {
namespace {

// Test names in CTest show the case's name instead of its bytes.
template <typename Case>
    requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

using Calls = std::vector<PageCallRecord>;

// ---- Login

TEST(LoginOperation, SendsPasswordAndBecomesActiveWithFiveSecondTimer) {
    FakeContext ctx;
    OperationHandler* op = ctx.Run(PageFunction::FUNC_LOGIN, "abc");
    ASSERT_EQ(ctx.sent.size(), 1u);
    EXPECT_EQ(ctx.sent[0], (Bytes{0x00, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x01, 0x08, 'a', 'b', 'c', 0, 0, 0, 0, 0}));
    EXPECT_EQ(ctx.ActiveOperation(), op);
    EXPECT_EQ(ctx.timerStarts, std::vector<uint32_t>{5000});
    EXPECT_TRUE(op->IsRunning());
    EXPECT_EQ(op->FunctionNumber(), 0);
}

struct LoginReplyCase {
    const char* name;
    Bytes reply;
    const char* callback;
};

class LoginReply : public testing::TestWithParam<LoginReplyCase> {};

TEST_P(LoginReply, StatusDecidesCallbackThenCompletionZero) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_LOGIN, "secret");
    ctx.Reply(GetParam().reply);
    EXPECT_EQ(ctx.pageCalls, (Calls{{"CallbackLogin", {GetParam().callback}, PageCallForm::CallFunction}}));
    // The same answer, typed.
    EXPECT_EQ(ctx.results, std::vector<OperationResult>{LoginAnswered{std::string_view(GetParam().callback) == "0"}});
    EXPECT_EQ(ctx.completions, std::vector<int>{0});
    EXPECT_TRUE(ctx.Idle());
    EXPECT_EQ(ctx.timerKills, 1);
    EXPECT_TRUE(ctx.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, LoginReply,
                         testing::Values(LoginReplyCase{"status0", Reply(REP_ACTION, 0), "0"},
                                         LoginReplyCase{"status5", Reply(REP_ACTION, 5), "1"},
                                         LoginReplyCase{"anyTypeStatus0", Reply(REP_DIAG, 0), "0"},
                                         // A read too short to carry a status cannot be an acceptance.
                                         LoginReplyCase{"fiveBytes", Bytes{0, 0, 1, 2, 3}, "1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoginOperation, TimeoutShowsUnableToLoginAndCallsNothing) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_LOGIN, "pw");
    ctx.Advance(4999);
    EXPECT_TRUE(ctx.messages.empty());
    ctx.Advance(1);
    EXPECT_EQ(ctx.messages, std::vector<std::string>{"Unable to login"});
    EXPECT_TRUE(ctx.pageCalls.empty());
    EXPECT_TRUE(ctx.completions.empty());
    EXPECT_TRUE(ctx.Idle());
    // Finished before the box: the timer is gone, a late reply goes nowhere.
    EXPECT_LT(std::find(ctx.log.begin(), ctx.log.end(), "kill"), std::find(ctx.log.begin(), ctx.log.end(), "message"));
    ctx.Reply(Reply(REP_ACTION));
    EXPECT_TRUE(ctx.pageCalls.empty());
}

// ---- Action

struct CompletionCase {
    const char* name;
    Bytes reply;
    int result;
};

class ActionReply : public testing::TestWithParam<CompletionCase> {};

TEST_P(ActionReply, AcceptedRepActionOnly) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_ACTION, "ignored");
    ASSERT_EQ(ctx.sent.size(), 1u);
    EXPECT_EQ(ctx.sent[0], (Bytes{0x0F, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00}));
    EXPECT_EQ(ctx.timerStarts, std::vector<uint32_t>{10000});
    ctx.Reply(GetParam().reply);
    EXPECT_EQ(ctx.completions, std::vector<int>{GetParam().result});
    EXPECT_TRUE(ctx.Idle());
    EXPECT_TRUE(ctx.pageCalls.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, ActionReply,
                         testing::Values(CompletionCase{"accepted", Reply(REP_ACTION, 0), 0},
                                         CompletionCase{"setConfigReply", Reply(REP_SET_CONFIG, 0), 1},
                                         CompletionCase{"status2", Reply(REP_ACTION, 2), 1},
                                         CompletionCase{"headerCut", Bytes{REP_ACTION, 0, 1}, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ActionOperation, TimeoutCompletesWithOne) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_ACTION);
    ctx.Advance(10000);
    EXPECT_EQ(ctx.completions, std::vector<int>{1});
    EXPECT_TRUE(ctx.Idle());
}

// ---- Value reads

struct ValueFunction {
    PageFunction function;
    std::string_view key;
    const char* callback;
};
constexpr ValueFunction VALUE_FUNCTIONS[] = {{PageFunction::FUNC_GET_PRODUCT_ID, "c:prod_id", "CallbackProdID"},
                                             {PageFunction::FUNC_GET_IMAGE_VERSION, "a:version", "CallbackImageVer"},
                                             {PageFunction::FUNC_GET_FIRMWARE_VERSION, "a:version", "CallbackFwVer"}};

struct ValueReplyCase {
    const char* name;
    Bytes reply;
    std::optional<std::string> value;  // passed to the page function, if any
    int result;
};

Bytes ValueReplyBytes(uint8_t status, std::string_view text) { return BuildValueReply(DEVICE_VERSION, status, text); }

class ValueRead : public testing::TestWithParam<std::tuple<ValueFunction, ValueReplyCase>> {};

TEST_P(ValueRead, ReplyGivesCallbackAndCompletion) {
    const auto& [fn, c] = GetParam();
    FakeContext ctx;
    ctx.Run(fn.function, "ignored");
    ASSERT_EQ(ctx.sent.size(), 1u);
    EXPECT_EQ(ctx.sent[0], BuildGetValueRequest(fn.key));
    EXPECT_EQ(ctx.timerStarts, std::vector<uint32_t>{200000});
    ctx.Reply(c.reply);
    Calls expected;
    if (c.value) expected.push_back({fn.callback, {*c.value}, PageCallForm::CallFunction});
    EXPECT_EQ(ctx.pageCalls, expected);
    std::vector<OperationResult> typed;
    if (c.value) typed.emplace_back(kbr::ValueRead{fn.function, std::string(fn.key), *c.value});
    EXPECT_EQ(ctx.results, typed);
    EXPECT_EQ(ctx.completions, std::vector<int>{c.result});
    EXPECT_TRUE(ctx.Idle());
}

Bytes Unterminated() {
    Bytes b = ValueReplyBytes(0, "1.0.7");
    b.pop_back();  // no zero byte: the text runs to the end of the read
    return b;
}

Bytes WithoutTextField() {
    Bytes b = ValueReplyBytes(0, "");
    b.resize(12);  // the header and bytes 8-11; the text field from byte 12 is missing
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValueRead,
    testing::Combine(testing::ValuesIn(VALUE_FUNCTIONS),
                     testing::Values(ValueReplyCase{"accepted", ValueReplyBytes(0, "2.1.0.5"), "2.1.0.5", 0},
                                     ValueReplyCase{"status1", ValueReplyBytes(1, "2.1.0.5"), std::nullopt, 1},
                                     ValueReplyCase{"wrongType", Reply(REP_ACTION), std::nullopt, 1},
                                     // Without the text field (12 bytes or fewer): a failed reply.
                                     ValueReplyCase{"headerOnly", Reply(REP_VALUE), std::nullopt, 1},
                                     ValueReplyCase{"twelveBytes", WithoutTextField(), std::nullopt, 1},
                                     ValueReplyCase{"emptyText", ValueReplyBytes(0, ""), "", 0},
                                     ValueReplyCase{"unterminated", Unterminated(), "1.0.7", 0})),
    [](const auto& info) {
        return std::to_string(FunctionNumber(std::get<0>(info.param).function)) + "_" + std::get<1>(info.param).name;
    });

TEST(ReadValueOperation, ProdIdRequestIsEighteenBytes) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GET_PRODUCT_ID);
    EXPECT_EQ(ctx.sent.at(0),
              (Bytes{0x40, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00, 'c', ':', 'p', 'r', 'o', 'd', '_', 'i', 'd', 0}));
}

TEST(ReadValueOperation, NoAnswerWithin200sCompletesWithOneAndNoCallback) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GET_PRODUCT_ID);
    ctx.Advance(199999);
    EXPECT_TRUE(ctx.completions.empty());
    ctx.Advance(1);
    EXPECT_EQ(ctx.completions, std::vector<int>{1});
    EXPECT_TRUE(ctx.pageCalls.empty());
}

// ---- The event contract

TEST(OperationContract, EventsAfterFinishingAreIgnored) {
    FakeContext ctx;
    OperationHandler* op = ctx.Run(PageFunction::FUNC_GET_FIRMWARE_VERSION);
    ctx.Reply(ValueReplyBytes(0, "1.0"));
    ASSERT_EQ(ctx.completions.size(), 1u);
    const auto log = ctx.log;
    // Even delivered straight to the object (a window bug), nothing happens any more.
    op->OnReply(ValueReplyBytes(0, "2.0"));
    op->OnTimeout();
    EXPECT_EQ(ctx.log, log);
    EXPECT_FALSE(op->IsRunning());
}

TEST(OperationContract, DroppedOperationIgnoresItsOldTimerAndReplies) {
    FakeContext ctx;
    OperationHandler* op = ctx.Run(PageFunction::FUNC_ACTION);
    ctx.Drop();  // code 1005
    const auto log = ctx.log;
    op->OnTimeout();
    op->OnReply(Reply(REP_ACTION));
    EXPECT_EQ(ctx.log, log);
}

TEST(OperationContract, EventFormDispatchesToTheThreeCalls) {
    FakeContext ctx;
    auto op = MakeOperation(PageFunction::FUNC_LOGIN, ctx);
    const std::string password = "pw";
    op->Handle(OP_START, std::span(reinterpret_cast<const uint8_t*>(password.data()), password.size()));
    EXPECT_EQ(ctx.sent.at(0), BuildLoginRequest("pw"));
    op->Handle(OP_REPLY, Reply(REP_ACTION, 0));
    EXPECT_EQ(ctx.completions, std::vector<int>{0});
}

TEST(OperationFactory, EveryFunctionNumberHasItsOperation) {
    FakeContext ctx;
    for (int n = 0; n <= 15; ++n) {
        auto op = MakeOperation(n, ctx);
        ASSERT_NE(op, nullptr) << n;
        EXPECT_EQ(op->FunctionNumber(), n);
    }
    EXPECT_EQ(MakeOperation(16, ctx), nullptr);
    EXPECT_EQ(MakeOperation(-1, ctx), nullptr);
}

struct CommandCase {
    const char* command;
    int function;
    const char* args;
};

class FunctionCommands : public testing::TestWithParam<CommandCase> {};

TEST_P(FunctionCommands, NumberBeforeFirstColonArgsAfter) {
    const FunctionCommand parsed = ParseFunctionCommand(GetParam().command);
    EXPECT_EQ(parsed.function, GetParam().function);
    EXPECT_EQ(parsed.args, GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(Cases, FunctionCommands,
                         testing::Values(CommandCase{"0:secret", 0, "secret"}, CommandCase{"3:5", 3, "5"},
                                         CommandCase{"7:", 7, ""}, CommandCase{"1", 0, "1"},
                                         CommandCase{"8:C:/a:b.img", 8, "C:/a:b.img"}, CommandCase{"x:y", 0, "y"},
                                         CommandCase{" 12abc:", 12, ""}, CommandCase{"-3:", -3, ""},
                                         CommandCase{"99999999999:", -1, ""}, CommandCase{"", 0, ""}));

void PrintTo(const ValueFunction& f, std::ostream* os) { *os << FunctionNumber(f.function); }
void PrintTo(const CommandCase& c, std::ostream* os) { *os << '"' << c.command << '"'; }

}  // namespace
}  // namespace kbr::test
