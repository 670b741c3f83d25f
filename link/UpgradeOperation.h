#pragma once
// The firmware upgrade (function 8) and the reading of an image file's version (function 14).
//
// The upgrade checks the image file (layout, both sections' CRCs, "prod_id"), compares its
// product id with the device's and its version with the device's (asking the user when they are
// equal), then sends section 1 (pass 1) and section 2 (pass 2) in 256-byte chunks, one
// outstanding at a time, each acknowledged by the device:
//
//   product id  REQ_GET_VALUE "c:prod_id"   -> REP_VALUE equal to the image's, else end with 1
//   version     REQ_GET_VALUE "a:version"   -> REP_VALUE (a failed reply counts as one failure
//                                              of pass 1 and skips the comparison)
//   pass 1, 2   REQ_UPGRADE_START           -> REP_UPGRADE_START
//               REQ_UPGRADE_DATA            -> REP_UPGRADE_DATA, REP_UPGRADE_END after the last
// A wrong acknowledgement restarts the current pass from its first chunk once; a second one
// ends the upgrade with 1. Timer: 200000 ms per step, 10000 ms after a section's last chunk.
// The progress window's range is 0..2 x (section 1's chunks - 1); it advances once per chunk of
// both sections and is hidden when the upgrade ends.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/Operation.h"
#include "link/UpgradeImage.h"

namespace kbr {

class UpgradeOperation : public Operation {
public:
    static constexpr uint32_t STEP_TIMER_MS = 200000;
    static constexpr uint32_t LAST_CHUNK_TIMER_MS = 10000;
    static constexpr PageFunction FUNCTION = PageFunction::FUNC_UPGRADE_IMAGE;

    explicit UpgradeOperation(OperationContext& context) : Operation(context, FUNCTION) {}
    void Start(std::string_view path) override;

    // Deciding: a box is open or a file is being read; no reply is expected.
    // Stalled: the image lacks what the next step needs; nothing is asked of the device and the
    // running timer ends the upgrade.
    enum class Phase { Idle, ProductId, Version, Deciding, Stalled, Transfer, Finished };
    Phase CurrentPhase() const { return phase_; }
    int Pass() const { return pass_; }
    // Size of section 1 or 2 of the image being sent (0 before Start read it and after the end).
    size_t SectionSize(int which) const;

protected:
    void Timeout() override;
    void Reply(std::span<const uint8_t> received) override;

private:
    void OnProductId(std::span<const uint8_t> received);
    void OnVersion(std::span<const uint8_t> received);
    void OnAcknowledgement(std::span<const uint8_t> received);
    // Makes section `which` of the image the one being sent; false (with none selected) when it
    // has no "prod_id".
    bool SelectSection(int which);
    void StartPass1();
    void StartPass2();
    void SendNextChunk();
    void PassFailed();
    void End(int result);

    std::string path_;
    std::optional<LoadedImage> image_;  // the file, read once at the start
    std::span<const uint8_t> section_;  // the section being sent, inside image_
    uint32_t chunkCount1_ = 0;          // section 1's chunks, for restarts of pass 1
    int64_t remaining_ = 0;             // chunks still to send after the next one; -1 once the last went
    uint32_t index_ = 0;                // index of the next chunk
    int retries_ = 0;
    int pass_ = 0;
    uint8_t expected_ = 0;  // acknowledgement awaited during the transfer
    Phase phase_ = Phase::Idle;
};

// Function 14: stores the "a:version" tag of section 1 of a valid image as the window's image
// version (and, as any load of a section does, its "prod_id" as the image product id). Never
// active, sends nothing, reports nothing but a file-error message.
class ReadImageVersion : public Operation {
public:
    explicit ReadImageVersion(OperationContext& context) : Operation(context, PageFunction::FUNC_READ_IMAGE_VERSION) {}
    void Start(std::string_view path) override;

protected:
    void Timeout() override {}
    void Reply(std::span<const uint8_t>) override {}
};

// Number of 256-byte chunks a section of `size` bytes is sent in.
uint32_t ChunkCount(size_t size);

}  // namespace kbr
