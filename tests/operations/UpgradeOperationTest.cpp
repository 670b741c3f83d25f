// The firmware upgrade against a scripted device, and the image version read.

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "devtools/image/ImageBuilder.h"
#include "platform/Platform.h"
#include "link/UpgradeImage.h"
#include "link/UpgradeOperation.h"
#include "tests/operations/FakeContext.h"
#include "testkit/ScratchFolder.h"

namespace kbr::test {
namespace {

// Test names in CTest show the case's name instead of its bytes.
template <typename Case>
    requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

namespace fs = std::filesystem;

constexpr std::string_view PRODUCT_ID = "KBR3300-A";

// Writes image files into a fresh folder that goes away with the test.
class ImageFiles {
public:
    std::string Write(const ImageSpec& plan, const std::string& name = "fw.img") {
        std::string error;
        auto bytes = BuildUpgradeImage(plan, &error);
        EXPECT_TRUE(bytes) << error;
        std::string path = dir_.File(name);
        EXPECT_TRUE(WriteImageFile(path, *bytes, &error)) << error;
        return path;
    }
    std::string Standard(size_t size1, size_t size2, std::string_view version = "2.0.0.0") {
        return Write(StandardImageSpec(PRODUCT_ID, version, "2.0.0.1", size1, size2));
    }

private:
    testkit::ScratchFolder dir_{"kbr-ops-"};
};

// The sections of a valid image file, as the device should end up holding them.
std::array<Bytes, 2> FileSections(const std::string& path) {
    const ImageFileData file = ReadImageFile(path);
    const ImageLayout layout = InspectImage(file.bytes);
    EXPECT_TRUE(layout.valid) << layout.problem;
    std::array<Bytes, 2> out;
    for (int which = 1; which <= 2; ++which) {
        auto bytes = ImageSectionBytes(file.bytes, layout, which);
        out[which - 1].assign(bytes.begin(), bytes.end());
    }
    return out;
}

struct Chunk {
    uint16_t remaining, offset, size;
    bool operator==(const Chunk&) const = default;
};

// Answers every request the way the device does and reassembles what it is sent. A test can
// replace any answer (by request number, counted from 0 over all requests).
struct ScriptedDevice {
    std::string productId = std::string(PRODUCT_ID);
    std::string version = "1.0.0.0";
    std::function<std::optional<Bytes>(size_t number, const Bytes& request)> override;

    std::vector<Bytes> sections;             // each completed section, in order
    std::vector<std::vector<Chunk>> chunks;  // chunk fields per started pass
    std::vector<bool> lastChunkPaddingZero;
    Bytes assembling;

    Bytes Answer(size_t number, const Bytes& request) {
        Bytes reply = Normal(request);
        if (override) {
            if (auto other = override(number, request)) return *other;
        }
        return reply;
    }

    Bytes Normal(const Bytes& request) {
        switch (request.at(0)) {
            case REQ_GET_VALUE: {
                const Decoded<std::string> key = ReadGetValueRequest(request);
                EXPECT_TRUE(key) << key.error;
                return BuildValueReply(DEVICE_VERSION, 0, *key == KEY_PRODUCT_ID ? productId : version);
            }
            case REQ_UPGRADE_START:
                EXPECT_EQ(request.size(), UPGRADE_START_REQUEST_SIZE);
                assembling.clear();
                chunks.emplace_back();
                return Reply(REP_UPGRADE_START);
            case REQ_UPGRADE_DATA: {
                const Decoded<UpgradeDataRequest> decoded = ReadUpgradeDataRequest(request);
                EXPECT_TRUE(decoded) << decoded.error;
                const UpgradeDataRequest& data = *decoded;
                chunks.back().push_back({data.remaining, data.offset, data.size});
                assembling.insert(assembling.end(), data.data.begin(), data.data.begin() + data.size);
                if (data.remaining != 0) return Reply(REP_UPGRADE_DATA);
                lastChunkPaddingZero.push_back(
                    std::all_of(data.data.begin() + data.size, data.data.end(), [](uint8_t b) { return b == 0; }));
                sections.push_back(assembling);
                return Reply(REP_UPGRADE_END);
            }
            default: ADD_FAILURE() << "unexpected request type " << int{request.at(0)}; return Reply(REP_ACTION, 1);
        }
    }
};

// Delivers the device's answer to each request until the operation is idle or nothing is
// outstanding.
void Drive(FakeContext& ctx, ScriptedDevice& device) {
    size_t answered = 0;
    while (!ctx.Idle() && answered < ctx.sent.size()) {
        const Bytes request = ctx.sent[answered];
        ctx.Reply(device.Answer(answered, request));
        ++answered;
    }
}

size_t CountSent(const FakeContext& ctx, uint8_t type) {
    return std::count_if(ctx.sent.begin(), ctx.sent.end(), [&](const Bytes& b) { return b.at(0) == type; });
}

// ---- The whole upgrade

TEST(UpgradeOperation, WholeUpgradeSendsBothSectionsByteForByte) {
    ImageFiles files;
    const std::string path = files.Standard(1024, 700);
    FakeContext ctx;
    ScriptedDevice device;
    OperationHandler* op = ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
    EXPECT_EQ(ctx.ActiveOperation(), op);
    EXPECT_TRUE(ctx.progressCreated);
    EXPECT_TRUE(ctx.progressVisible);
    EXPECT_EQ(ctx.progressMaximum, 6);  // 1024 bytes: 4 chunks, 2 x 3
    EXPECT_EQ(ctx.sent.at(0), BuildGetValueRequest("c:prod_id"));
    EXPECT_EQ(ctx.timerStarts.at(0), 200000u);

    Drive(ctx, device);
    EXPECT_EQ(ctx.completions, std::vector<int>{0});
    EXPECT_TRUE(ctx.Idle());
    EXPECT_FALSE(ctx.progressVisible);
    EXPECT_EQ(ctx.progressPosition, 4 + 3);  // one step per chunk of both sections
    EXPECT_TRUE(ctx.questions.empty());
    EXPECT_TRUE(ctx.messages.empty());
    EXPECT_EQ(ctx.sent.at(1), BuildGetValueRequest("a:version"));
    EXPECT_EQ(device.sections, (std::vector<Bytes>{FileSections(path)[0], FileSections(path)[1]}));
    EXPECT_EQ(ctx.state.deviceProductId, PRODUCT_ID);
    EXPECT_EQ(ctx.state.deviceVersion, "1.0.0.0");
    EXPECT_EQ(ctx.state.imageVersion, "2.0.0.0");
    EXPECT_EQ(ctx.state.imageProductId, PRODUCT_ID);
    // Finished in order: timer, slot, window, page.
    const std::vector<std::string> tail(ctx.log.end() - 4, ctx.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"kill", "idle", "progress-hide", "complete0"}));
}

struct ChunkingCase {
    size_t size1;
    std::vector<Chunk> chunks;
};

class Chunking : public testing::TestWithParam<ChunkingCase> {};

TEST_P(Chunking, RemainingOffsetSizeAndTimers) {
    ImageFiles files;
    const std::string path = files.Standard(GetParam().size1, 300);
    FakeContext ctx;
    ScriptedDevice device;
    ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
    Drive(ctx, device);
    ASSERT_EQ(ctx.completions, std::vector<int>{0});
    ASSERT_EQ(device.chunks.size(), 2u);
    EXPECT_EQ(device.chunks[0], GetParam().chunks);
    EXPECT_EQ(device.chunks[1], (std::vector<Chunk>{{1, 0, 256}, {0, 256, 44}}));
    EXPECT_EQ(device.lastChunkPaddingZero, (std::vector<bool>{true, true}));
    // Pass 1's timers: start, then one per chunk; the last chunk's is 10 s.
    std::vector<uint32_t> pass1(ctx.timerStarts.begin() + 1, ctx.timerStarts.begin() + 2 + GetParam().chunks.size());
    std::vector<uint32_t> expected(GetParam().chunks.size() + 1, 200000);
    expected.back() = 10000;
    EXPECT_EQ(pass1, expected);
}

INSTANTIATE_TEST_SUITE_P(Sections, Chunking,
                         testing::Values(ChunkingCase{512, {{1, 0, 256}, {0, 256, 256}}},
                                         ChunkingCase{513, {{2, 0, 256}, {1, 256, 256}, {0, 512, 1}}},
                                         ChunkingCase{100, {{0, 0, 100}}}));

// ---- Failures during the transfer

TEST(UpgradeOperation, RejectedThirdChunkRestartsPass1OnceThenEndsWithOne) {
    ImageFiles files;
    const std::string path = files.Standard(1024, 300);
    FakeContext ctx;
    ScriptedDevice device;
    int dataSeen = 0;
    device.override = [&](size_t, const Bytes& request) -> std::optional<Bytes> {
        if (request[0] == REQ_UPGRADE_START) dataSeen = 0;
        if (request[0] == REQ_UPGRADE_DATA && ++dataSeen == 3) return Reply(REP_UPGRADE_DATA, 1);
        return std::nullopt;
    };
    ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
    Drive(ctx, device);
    EXPECT_EQ(ctx.completions, std::vector<int>{1});
    EXPECT_EQ(CountSent(ctx, REQ_UPGRADE_START), 2u);
    EXPECT_EQ(CountSent(ctx, REQ_UPGRADE_DATA), 6u);
    // The restart follows the rejected chunk directly.
    EXPECT_EQ(ctx.sent.at(2 + 1 + 3).at(0), REQ_UPGRADE_START);
    EXPECT_TRUE(ctx.Idle());
    EXPECT_FALSE(ctx.progressVisible);
}

TEST(UpgradeOperation, Pass2IsRetriedOnceWithTheSectionLoadedAgain) {
    ImageFiles files;
    const std::string path = files.Standard(300, 300);
    for (int failures : {1, 2}) {
        FakeContext ctx;
        ScriptedDevice device;
        int starts = 0;
        device.override = [&](size_t, const Bytes& request) -> std::optional<Bytes> {
            if (request[0] == REQ_UPGRADE_START && ++starts >= 2 && starts < 2 + failures) {
                return Reply(REP_UPGRADE_DATA, 0);  // the wrong acknowledgement
            }
            return std::nullopt;
        };
        ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
        Drive(ctx, device);
        EXPECT_EQ(ctx.completions, std::vector<int>{failures == 1 ? 0 : 1}) << failures;
        EXPECT_EQ(CountSent(ctx, REQ_UPGRADE_START), 3u) << failures;  // pass 1, pass 2, pass 2 again
    }
}

TEST(UpgradeOperation, TimeoutInAnyStepEndsWithOneAndHidesProgress) {
    ImageFiles files;
    const std::string path = files.Standard(300, 300);
    // Stop answering after request n: 0 product id, 1 version, 2 start, 3 first chunk, 4 last chunk.
    for (size_t silentFrom : {0u, 1u, 2u, 3u, 4u}) {
        FakeContext ctx;
        ScriptedDevice device;
        ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
        for (size_t n = 0; n < silentFrom; ++n) ctx.Reply(device.Answer(n, ctx.sent.at(n)));
        const uint32_t period = ctx.timerPeriod;
        EXPECT_EQ(period, silentFrom == 4 ? 10000u : 200000u) << silentFrom;
        ctx.Advance(period - 1);
        EXPECT_TRUE(ctx.completions.empty()) << silentFrom;
        ctx.Advance(1);
        EXPECT_EQ(ctx.completions, std::vector<int>{1}) << silentFrom;
        EXPECT_FALSE(ctx.progressVisible);
        EXPECT_TRUE(ctx.Idle());
    }
}

// ---- Checks before anything of the image is sent

TEST(UpgradeOperation, ProductIdMismatchOrFailedReplyEndsBeforeTheImage) {
    ImageFiles files;
    const std::string path = files.Standard(300, 300);
    struct Case {
        Bytes reply;
        std::vector<std::string> messages;
    };
    for (const Case& c : {Case{BuildValueReply(DEVICE_VERSION, 0, "OTHER"), {"Product IDs do not match!"}},
                          Case{BuildValueReply(DEVICE_VERSION, 1, PRODUCT_ID), {}}, Case{Reply(REP_ACTION), {}},
                          // A value reply without its text field is a failed reply, not a product id
                          // that does not match.
                          Case{Reply(REP_VALUE), {}}}) {
        FakeContext ctx;
        ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
        ctx.Reply(c.reply);
        EXPECT_EQ(ctx.messages, c.messages);
        EXPECT_EQ(ctx.completions, std::vector<int>{1});
        EXPECT_EQ(ctx.sent.size(), 1u);
        EXPECT_TRUE(ctx.Idle());
        EXPECT_FALSE(ctx.progressVisible);
    }
}

TEST(UpgradeOperation, EqualVersionsAskTheUser) {
    ImageFiles files;
    const std::string path = files.Standard(300, 300, "1.0.0.0");
    for (bool yes : {false, true}) {
        FakeContext ctx;
        ScriptedDevice device;  // reports 1.0.0.0
        ctx.answer = yes;
        ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
        Drive(ctx, device);
        EXPECT_EQ(ctx.questions, std::vector<std::string>{"Firmware = 1.0.0.0 matches device version! Continue?"});
        EXPECT_EQ(ctx.completions, std::vector<int>{yes ? 0 : 1});
        EXPECT_EQ(CountSent(ctx, REQ_UPGRADE_START), yes ? 2u : 0u);
        EXPECT_EQ(CountSent(ctx, REQ_UPGRADE_DATA), yes ? 4u : 0u);
    }
}

TEST(UpgradeOperation, FailedVersionReplySkipsTheComparisonAndUsesOneTry) {
    ImageFiles files;
    const std::string path = files.Standard(300, 300, "1.0.0.0");
    for (bool laterFailure : {false, true}) {
        FakeContext ctx;
        ScriptedDevice device;
        device.override = [&](size_t n, const Bytes& request) -> std::optional<Bytes> {
            if (n == 1) return BuildValueReply(DEVICE_VERSION, 1, "");
            if (laterFailure && request[0] == REQ_UPGRADE_DATA) return Reply(REP_UPGRADE_DATA, 1);
            return std::nullopt;
        };
        ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
        Drive(ctx, device);
        EXPECT_TRUE(ctx.questions.empty());
        EXPECT_EQ(ctx.completions, std::vector<int>{laterFailure ? 1 : 0});
        // With one try used, the first rejected chunk of pass 1 ends the upgrade.
        EXPECT_EQ(CountSent(ctx, REQ_UPGRADE_START), laterFailure ? 1u : 2u);
    }
}

struct InvalidFileCase {
    const char* name;
    std::optional<ImageDefect> defect;  // nullopt: no file at all
    std::vector<std::string> messages;
};

class InvalidFile : public testing::TestWithParam<InvalidFileCase> {};

TEST_P(InvalidFile, UpgradeFailedAndNothingSent) {
    ImageFiles files;
    std::string path = "/nonexistent/kbr/fw.img";
    if (GetParam().defect) {
        ImageSpec plan = StandardImageSpec(PRODUCT_ID, "2.0", "2.1", 600, 600);
        plan.defect = *GetParam().defect;
        path = files.Write(plan);
    }
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
    EXPECT_EQ(ctx.messages, GetParam().messages);
    EXPECT_EQ(ctx.pageCalls,
              (std::vector<PageCallRecord>{
                  {"upgradeFailed", {"Not a valid upgrade file!"}, PageCallForm::CallFunctionWithArray}}));
    EXPECT_EQ(ctx.results, std::vector<OperationResult>{ImageRefused{"Not a valid upgrade file!"}});
    EXPECT_EQ(ctx.completions, std::vector<int>{1});
    EXPECT_TRUE(ctx.sent.empty());
    EXPECT_TRUE(ctx.Idle());
    EXPECT_TRUE(ctx.progressCreated);
    EXPECT_EQ(ctx.progressShows, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, InvalidFile,
                         testing::Values(InvalidFileCase{"missing", std::nullopt, {"The file could not be located."}},
                                         InvalidFileCase{"crc1", ImageDefect::Section1Crc, {}},
                                         InvalidFileCase{"crc2", ImageDefect::Section2Crc, {}},
                                         InvalidFileCase{"emptySection2", ImageDefect::EmptySection2, {}},
                                         InvalidFileCase{"noProductId", ImageDefect::NoProductId, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Section 2 without what the version step or pass 2 needs: nothing more is asked of the device,
// and the upgrade ends when the running timer does, not before.
struct StalledCase {
    const char* name;
    std::vector<ImageTagText> section2Tags;
    bool versionReplyFails;  // the device refuses the version read: pass 1 goes ahead without it
    uint64_t endsAtMs;       // when the timer ends it, counted from the request that set it
    size_t requestsSent;
};

class Stalled : public testing::TestWithParam<StalledCase> {};

TEST_P(Stalled, TheTimerEndsTheUpgrade) {
    const StalledCase& c = GetParam();
    ImageFiles files;
    ImageSpec plan = StandardImageSpec(PRODUCT_ID, "2.0", "2.1", 300, 300);
    plan.section2.tags = c.section2Tags;
    const std::string path = files.Write(plan);
    FakeContext ctx;
    ScriptedDevice device;
    device.override = [&](size_t n, const Bytes&) -> std::optional<Bytes> {
        if (c.versionReplyFails && n == 1) return BuildValueReply(DEVICE_VERSION, 1, "");
        return std::nullopt;
    };
    ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
    Drive(ctx, device);
    EXPECT_EQ(ctx.sent.size(), c.requestsSent);
    EXPECT_FALSE(ctx.Idle());

    // A stray reply changes nothing; the timer's last tick before its period neither.
    ctx.Reply(Reply(REP_UPGRADE_END));
    ctx.Advance(c.endsAtMs - 1);
    EXPECT_TRUE(ctx.completions.empty());
    EXPECT_TRUE(ctx.progressVisible);

    ctx.Advance(1);
    EXPECT_EQ(ctx.completions, std::vector<int>{1});
    EXPECT_TRUE(ctx.Idle());
    EXPECT_FALSE(ctx.progressVisible);
    EXPECT_EQ(ctx.sent.size(), c.requestsSent);
    EXPECT_TRUE(ctx.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Section2, Stalled,
    testing::Values(
        // The version step: the timer of the product id request (200 s) runs on.
        StalledCase{"noVersionTag", {{"prod_id", std::string(PRODUCT_ID)}}, false, 200000, 2},
        StalledCase{"noProductId", {{"version", "2.0"}}, false, 200000, 2},
        // Pass 2: the timer of pass 1's last chunk (10 s); pass 1 was sent whole (start, two chunks).
        StalledCase{"noProductIdAfterAFailedVersionRead", {{"version", "2.0"}}, true, 10000, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpgradeOperation, TheFileIsReadOnceSoChangesDuringTheUpgradeDoNotMixTwoImages) {
    // Replaced by another image, then removed, after pass 1: pass 2 still sends the section 2 of
    // the file as it was at the start, and no file error is shown.
    for (const bool removeIt : {false, true}) {
        ImageFiles files;
        const std::string path = files.Standard(300, 300);
        const std::array<Bytes, 2> original = FileSections(path);
        FakeContext ctx;
        ScriptedDevice device;
        device.override = [&](size_t, const Bytes& request) -> std::optional<Bytes> {
            if (request[0] == REQ_UPGRADE_DATA && request[8] == 0 && request[7] == 0 && device.sections.size() == 1) {
                if (removeIt) {
                    fs::remove(path);
                } else {
                    files.Write(StandardImageSpec(PRODUCT_ID, "3.0.0.0", "3.0.0.1", 300, 500));
                }
            }
            return std::nullopt;
        };
        ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
        Drive(ctx, device);
        EXPECT_TRUE(ctx.messages.empty()) << removeIt;
        EXPECT_EQ(ctx.completions, std::vector<int>{0}) << removeIt;
        ASSERT_EQ(device.sections.size(), 2u) << removeIt;
        EXPECT_EQ(device.sections[0], original[0]) << removeIt;
        EXPECT_EQ(device.sections[1], original[1]) << removeIt;
    }
}

// ---- Modal boxes: the world goes on while the user decides

TEST(UpgradeOperation, TimerExpiringWhileTheQuestionIsOpenWinsAndTheAnswerIsIgnored) {
    ImageFiles files;
    const std::string path = files.Standard(300, 300, "1.0.0.0");
    FakeContext ctx;
    ScriptedDevice device;
    ctx.answer = true;
    ctx.duringModal = [&] { ctx.Advance(200000); };
    ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
    Drive(ctx, device);
    EXPECT_EQ(ctx.questions.size(), 1u);
    EXPECT_EQ(ctx.completions, std::vector<int>{1});
    EXPECT_EQ(ctx.sent.size(), 2u);
    EXPECT_TRUE(ctx.Idle());
}

TEST(UpgradeOperation, DroppedWhileTheQuestionIsOpenDoesNothingMore) {
    ImageFiles files;
    const std::string path = files.Standard(300, 300, "1.0.0.0");
    FakeContext ctx;
    ScriptedDevice device;
    ctx.duringModal = [&] { ctx.Drop(); };
    ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
    ctx.Reply(device.Answer(0, ctx.sent[0]));
    const int killsBefore = ctx.timerKills;
    ctx.Reply(device.Answer(1, ctx.sent[1]));
    EXPECT_EQ(ctx.questions.size(), 1u);
    EXPECT_EQ(ctx.sent.size(), 2u);
    EXPECT_TRUE(ctx.completions.empty());
    EXPECT_EQ(ctx.timerKills, killsBefore);  // the timer is no longer this operation's to kill
}

TEST(UpgradeOperation, MismatchMessageOpenWhileTheTimerEndsItCompletesOnce) {
    ImageFiles files;
    const std::string path = files.Standard(300, 300);
    FakeContext ctx;
    ctx.duringModal = [&] { ctx.Advance(200000); };
    ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
    ctx.Reply(BuildValueReply(DEVICE_VERSION, 0, "OTHER"));
    EXPECT_EQ(ctx.completions, std::vector<int>{1});
}

TEST(UpgradeOperation, StrayReplyWhileABoxIsOpenIsIgnored) {
    ImageFiles files;
    const std::string path = files.Standard(300, 300, "1.0.0.0");
    for (bool question : {false, true}) {
        FakeContext ctx;
        ScriptedDevice device;
        ctx.Run(PageFunction::FUNC_UPGRADE_IMAGE, path);
        if (!question) {
            ctx.duringModal = [&] { ctx.Reply(BuildValueReply(DEVICE_VERSION, 0, "OTHER")); };
            ctx.Reply(BuildValueReply(DEVICE_VERSION, 0, "OTHER"));
            EXPECT_EQ(ctx.messages.size(), 1u);
            EXPECT_EQ(ctx.completions, std::vector<int>{1});
        } else {
            ctx.Reply(device.Answer(0, ctx.sent[0]));
            ctx.duringModal = [&] { ctx.Reply(Reply(REP_UPGRADE_START)); };
            ctx.Reply(device.Answer(1, ctx.sent[1]));
            EXPECT_EQ(ctx.questions.size(), 1u);
            // Yes: pass 1 starts once, and the stray acknowledgement sent no chunk.
            EXPECT_EQ(ctx.sent.size(), 3u);
            EXPECT_EQ(ctx.sent.back().at(0), REQ_UPGRADE_START);
        }
    }
}

// ---- Function 14

TEST(ReadImageVersion, StoresSection1AppVersionAndNothingElseHappens) {
    ImageFiles files;
    const std::string path = files.Write(StandardImageSpec(PRODUCT_ID, "2.0.0.0", "2.0.0.9", 300, 300));
    FakeContext ctx;
    ctx.state.imageVersion = "old";
    OperationHandler* op = ctx.Run(PageFunction::FUNC_READ_IMAGE_VERSION, path);
    EXPECT_EQ(ctx.state.imageVersion, "2.0.0.9");
    EXPECT_EQ(ctx.state.imageProductId, PRODUCT_ID);
    EXPECT_FALSE(op->IsRunning());
    EXPECT_TRUE(ctx.Idle());
    EXPECT_TRUE(ctx.sent.empty() && ctx.pageCalls.empty() && ctx.completions.empty() && ctx.timerStarts.empty());

    ImageSpec broken = StandardImageSpec(PRODUCT_ID, "3", "3", 300, 300);
    broken.defect = ImageDefect::Section2Crc;
    ctx.Run(PageFunction::FUNC_READ_IMAGE_VERSION, files.Write(broken, "broken.img"));
    EXPECT_EQ(ctx.state.imageVersion, "2.0.0.9");
    ctx.Run(PageFunction::FUNC_READ_IMAGE_VERSION, "/nonexistent/fw.img");
    EXPECT_EQ(ctx.messages, std::vector<std::string>{"The file could not be located."});
    EXPECT_EQ(ctx.state.imageVersion, "2.0.0.9");
}

void PrintTo(const ChunkingCase& c, std::ostream* os) { *os << "section1 " << c.size1; }

}  // namespace
}  // namespace kbr::test
