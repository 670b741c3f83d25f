#include "link/UpgradeOperation.h"

#include <algorithm>

#include "link/Messages.h"
#include "link/OperationContext.h"
#include "link/UpgradeImage.h"

namespace kbr {

namespace {

constexpr std::string_view NOT_VALID_FILE = "Not a valid upgrade file!";
constexpr std::string_view PRODUCT_IDS_DIFFER = "Product IDs do not match!";

MessageSink MessagesOf(OperationContext& context) {
    return [&context](const std::string& text) { context.ShowMessage(text); };
}

std::span<const uint8_t> TagArea(std::span<const uint8_t> section) {
    return section.subspan(std::min(section.size(), IMAGE_SECTION_START_SIZE));
}

}  // namespace

uint32_t ChunkCount(size_t size) { return static_cast<uint32_t>((size + UPGRADE_CHUNK_SIZE - 1) / UPGRADE_CHUNK_SIZE); }

// ---- UpgradeOperation

void UpgradeOperation::Start(std::string_view path) {
    OperationContext& context = Context();
    path_ = std::string(path);
    image_.reset();
    section_ = {};
    remaining_ = 0;
    index_ = 0;
    retries_ = 0;
    context.CreateUpgradeProgress();

    // The file is read and checked once; both passes send from this copy, so the device gets
    // the two sections of one and the same file even if it changes on disk meanwhile.
    image_ = LoadImage(path_, MessagesOf(context));
    if (!image_ || !SelectSection(1)) {
        image_.reset();
        context.CallPage("upgradeFailed", {std::string(NOT_VALID_FILE)}, PageCallForm::CallFunctionWithArray);
        context.Report(ImageRefused{std::string(NOT_VALID_FILE)});
        End(1);
        return;
    }
    chunkCount1_ = ChunkCount(section_.size());
    remaining_ = int64_t{chunkCount1_} - 1;
    context.ShowUpgradeProgress(static_cast<int>(2 * remaining_));

    phase_ = Phase::ProductId;
    BecomeActive(STEP_TIMER_MS, BuildGetValueRequest(KEY_PRODUCT_ID));
}

bool UpgradeOperation::SelectSection(int which) {
    section_ = {};
    const std::optional<std::string>& productId = image_->productIds[static_cast<size_t>(which - 1)];
    if (!productId) return false;
    Context().State().imageProductId = *productId;
    section_ = image_->Section(which);
    return true;
}

size_t UpgradeOperation::SectionSize(int which) const {
    return image_ && (which == 1 || which == 2) ? image_->Section(which).size() : 0;
}

void UpgradeOperation::Reply(std::span<const uint8_t> received) {
    switch (phase_) {
        case Phase::ProductId: OnProductId(received); break;
        case Phase::Version: OnVersion(received); break;
        case Phase::Transfer: OnAcknowledgement(received); break;
        case Phase::Idle:
        case Phase::Deciding:
        case Phase::Stalled:
        case Phase::Finished: break;
    }
}

void UpgradeOperation::Timeout() { End(1); }

void UpgradeOperation::OnProductId(std::span<const uint8_t> received) {
    OperationContext& context = Context();
    const Decoded<std::string> value = ReadValueReply(received);
    if (!value) {
        End(1);
        return;
    }
    context.State().deviceProductId = *value;
    if (*value != context.State().imageProductId) {
        phase_ = Phase::Deciding;
        context.ShowMessage(PRODUCT_IDS_DIFFER);
        End(1);  // a no-op if the timer ended it while the message was open
        return;
    }
    phase_ = Phase::Version;
    context.Send(BuildGetValueRequest(KEY_FIRMWARE_VERSION));  // the timer runs on
}

void UpgradeOperation::OnVersion(std::span<const uint8_t> received) {
    OperationContext& context = Context();
    const Decoded<std::string> value = ReadValueReply(received);
    if (!value) {
        // No version to compare: go ahead, with one of pass 1's two tries used up.
        ++retries_;
        StartPass1();
        return;
    }
    context.State().deviceVersion = *value;
    phase_ = Phase::Deciding;

    // Section 2 carries the version; section 1 stays selected for pass 1.
    std::optional<std::string> version;
    if (const auto& productId2 = image_->productIds[1]) {
        context.State().imageProductId = *productId2;
        version = FindImageTag(TagArea(image_->Section(2)), IMAGE_TAG_VERSION);
    }
    if (!version) {
        phase_ = Phase::Stalled;  // the running timer ends the upgrade
        return;
    }
    context.State().imageVersion = *version;
    if (*version != *value) {
        StartPass1();
        return;
    }
    const bool proceed = context.AskYesNo("Firmware = " + *version + " matches device version! Continue?");
    if (!IsCurrent()) return;  // ended or dropped while the question was open
    if (proceed) {
        StartPass1();
    } else {
        End(1);
    }
}

void UpgradeOperation::OnAcknowledgement(std::span<const uint8_t> received) {
    if (!IsAcceptedReply(received, expected_)) {
        PassFailed();
        return;
    }
    if (expected_ != REP_UPGRADE_END) {
        SendNextChunk();
        return;
    }
    if (pass_ == 1) {
        section_ = {};
        retries_ = 0;
        StartPass2();
    } else {
        End(0);
    }
}

void UpgradeOperation::StartPass1() {
    phase_ = Phase::Transfer;
    pass_ = 1;
    index_ = 0;
    remaining_ = int64_t{chunkCount1_} - 1;
    expected_ = REP_UPGRADE_START;
    Context().Send(BuildUpgradeStartRequest());
    Context().StartOperationTimer(STEP_TIMER_MS);
}

void UpgradeOperation::StartPass2() {
    phase_ = Phase::Deciding;
    pass_ = 2;
    remaining_ = -1;
    index_ = 0;
    if (!SelectSection(2)) {
        phase_ = Phase::Stalled;  // the timer of pass 1's last chunk ends the upgrade
        return;
    }
    remaining_ = int64_t{ChunkCount(section_.size())} - 1;
    phase_ = Phase::Transfer;
    expected_ = REP_UPGRADE_START;
    Context().Send(BuildUpgradeStartRequest());
    Context().StartOperationTimer(STEP_TIMER_MS);
}

void UpgradeOperation::SendNextChunk() {
    OperationContext& context = Context();
    const size_t offset = size_t{index_} * UPGRADE_CHUNK_SIZE;
    const std::span<const uint8_t> rest = section_.subspan(std::min(offset, section_.size()));
    if (remaining_ > 0) {
        const auto data = rest.first(std::min(rest.size(), UPGRADE_CHUNK_SIZE));
        context.Send(BuildUpgradeDataRequest(static_cast<uint32_t>(remaining_), static_cast<uint32_t>(offset),
                                             UPGRADE_CHUNK_SIZE, data));
        --remaining_;
        ++index_;
        expected_ = REP_UPGRADE_DATA;
        context.StartOperationTimer(STEP_TIMER_MS);
    } else {
        // The last chunk: its unused bytes go out as zeros.
        const size_t size =
            section_.size() % UPGRADE_CHUNK_SIZE == 0 ? UPGRADE_CHUNK_SIZE : section_.size() % UPGRADE_CHUNK_SIZE;
        const auto data = rest.first(std::min(rest.size(), size));
        context.Send(BuildUpgradeDataRequest(0, static_cast<uint32_t>(offset), static_cast<uint32_t>(size), data));
        remaining_ = -1;
        ++index_;
        expected_ = REP_UPGRADE_END;
        context.StartOperationTimer(LAST_CHUNK_TIMER_MS);
    }
    context.AdvanceUpgradeProgress();
}

void UpgradeOperation::PassFailed() {
    ++retries_;
    if (pass_ == 1) {
        if (retries_ < 2) {
            StartPass1();
        } else {
            End(1);
        }
    } else {
        if (retries_ == 1) {
            StartPass2();
        } else {
            End(1);
        }
    }
}

void UpgradeOperation::End(int result) {
    if (phase_ == Phase::Finished) return;
    phase_ = Phase::Finished;
    section_ = {};
    image_.reset();
    if (!IsRunning() || IsCurrent()) {
        Finish(std::nullopt);  // timer killed, no longer active
        Context().HideUpgradeProgress();
        Context().CompleteOperation(result);
    } else {
        Finish(std::nullopt);  // dropped by the window: nothing of the window is ours any more
    }
}

// ---- ReadImageVersion

void ReadImageVersion::Start(std::string_view path) {
    OperationContext& context = Context();
    std::optional<ImageSection> section = LoadImageSection(path, 1, MessagesOf(context));
    if (!section) return;
    context.State().imageProductId = section->productId;
    if (auto version = FindImageTag(TagArea(section->bytes), IMAGE_TAG_APP_VERSION)) {
        context.State().imageVersion = std::move(*version);
    }
}

}  // namespace kbr
