// The firmware upgrade, and why an image could not be sent.
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <string>

#include "link/Messages.h"
#include "link/UpgradeImage.h"
#include "link/UpgradeOperation.h"
#include "ctl/CommandText.h"
#include "ctl/Commands.h"
#include "platform/Terminal.h"

namespace kbr::ctl {

namespace {

// How long a second Ctrl-C aborts a transfer after the first.
constexpr auto SECOND_INTERRUPT_WINDOW = std::chrono::seconds(5);

// Dotted decimal versions, "1.0.2.3", as numbers; nothing for another form.
std::optional<std::vector<unsigned long>> VersionNumbers(std::string_view text) {
    std::vector<unsigned long> numbers;
    size_t start = 0;
    for (;;) {
        const size_t dot = std::min(text.find('.', start), text.size());
        const std::string_view part = text.substr(start, dot - start);
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
        numbers.push_back(std::stoul(std::string(part)));
        if (dot == text.size()) return numbers;
        start = dot + 1;
    }
}

bool IsOlder(std::string_view image, std::string_view device) {
    const auto a = VersionNumbers(image);
    const auto b = VersionNumbers(device);
    return a && b && *a < *b;
}

// Section 2 of a valid image without the tags the upgrade reads there. The upgrade would stop
// asking the device and wait for its timer (200 s), so the tool says it before anything is sent.
std::optional<std::string> MissingSection2Tag(const ImageDescription& description) {
    if (!description.layout.valid) return std::nullopt;
    const auto& section2 = description.tags[1];
    if (!section2 || !section2->productId) return "section 2 has no \"prod_id\" tag. Not a valid upgrade file!";
    if (!section2->version) return "section 2 has no \"version\" tag. Not a valid upgrade file!";
    return std::nullopt;
}

std::optional<std::string> MissingSection2Tag(const std::string& path) {
    const ImageFileData file = ReadImageFile(path);
    if (file.error || file.tooLarge) return std::nullopt;
    return MissingSection2Tag(DescribeImage(file.bytes));
}

// Why a valid image could not be sent, looked up after a failed upgrade: section 2 without the
// tags the upgrade reads there, or a section of more chunks than the 16-bit count of the chunks
// still to come can say (the device would take a chunk in the middle for the last one).
std::optional<std::string> UnsendableImage(const std::string& path) {
    const ImageFileData file = ReadImageFile(path);
    if (file.error || file.tooLarge) return std::nullopt;
    const ImageDescription description = DescribeImage(file.bytes);
    if (!description.layout.valid) return std::nullopt;
    if (auto missing = MissingSection2Tag(description)) return missing;
    for (int which = 1; which <= 2; ++which) {
        const uint64_t chunks = (description.layout.sections[static_cast<size_t>(which) - 1].size + 255) / 256;
        if (chunks > 65536) {
            return "section " + std::to_string(which) + " has " + std::to_string(chunks) +
                   " chunks of 256 bytes; an upgrade can count at most 65536 (16 MiB)";
        }
    }
    return std::nullopt;
}

}  // namespace

CommandResult CommandSession::Upgrade() {
    std::string path = invocation_.arguments[0];
    // The operation reads "%20" in a path as a space (the pages send names that way); a name that
    // really holds "%20" is handed over as its open descriptor instead.
    // (Windows has no such names for descriptors; there a name holding "%20" is read with a space.)
#ifndef _WIN32
    int held = -1;
    if (path.find("%20") != std::string::npos && (held = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) >= 0) {
        path = "/dev/fd/" + std::to_string(held);
    }
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{held};
#endif

    if (auto missing = MissingSection2Tag(path))
        return Fail(EXIT_BAD_IMAGE, invocation_.arguments[0] + ": " + *missing);
    if (auto failed = Login()) return *failed;

    UpgradeOperation operation(context_);
    UpgradeProgressView view(reporter_, surroundings_.progressBar && !reporter_.JsonLines());
    bool asked = false;
    bool declined = false;
    bool older = false;
    bool transferring = false;
    std::optional<Clock::time_point> firstInterrupt;
    const platform::InterruptCatcher interrupts;
    int interruptsSeen = 0;
    OperationRunner::Hooks hooks;
    hooks.maySend = [&](std::span<const uint8_t> request) {
        if (request[0] != REQ_UPGRADE_START || transferring) return true;
        // The operation goes on with any other version; an older one needs the user's word.
        const PageDeviceState& state = context_.State();
        if (!invocation_.allowOlder && IsOlder(state.imageVersion, state.deviceVersion)) {
            older = true;
            return false;
        }
        transferring = true;
        return true;
    };
    hooks.stop = [&] {
        const int count = interrupts.Count();
        if (count == interruptsSeen) return false;
        interruptsSeen = count;
        if (!transferring) return true;  // nothing sent yet: stop at once
        const auto now = Clock::now();
        if (firstInterrupt && now - *firstInterrupt <= SECOND_INTERRUPT_WINDOW) return true;
        firstInterrupt = now;
        view.Finish();  // the note on a line of its own
        reporter_.Note(
            "an upgrade is in progress: stopping it now leaves the adaptor with part of the new "
            "firmware. Press Ctrl-C again within 5 seconds to abort");
        reporter_.Event("interrupt", {{"message", "press Ctrl-C again within 5 seconds to abort"}});
        return false;
    };
    hooks.progressShown = [&](int) { view.Begin(operation.SectionSize(1), operation.SectionSize(2)); };
    hooks.sent = [&](std::span<const uint8_t> request) {
        switch (request[0]) {
            case REQ_GET_VALUE: {
                if (const auto key = ReadGetValueRequest(request)) {
                    reporter_.Event("phase", {{"phase", *key == KEY_PRODUCT_ID ? "product-id" : "version"}});
                }
                break;
            }
            case REQ_UPGRADE_START: view.PassStarted(operation.Pass()); break;
            case REQ_UPGRADE_DATA: {
                if (const auto chunk = ReadUpgradeDataRequest(request)) view.Sent(chunk->size);
                break;
            }
            default: break;
        }
    };
    hooks.askYesNo = [&](std::string_view question) {
        asked = true;
        bool yes = invocation_.force;
        if (!yes && surroundings_.ask) yes = surroundings_.ask(question).value_or(false);
        declined = !yes;
        return yes;
    };
    context_.SetHooks(hooks);
    const auto started = Clock::now();
    const RunOutcome outcome = context_.Run(operation, path);
    context_.SetHooks({});
    view.Finish();

    const PageDeviceState& state = context_.State();
    if (outcome.completion == 0) {
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        reporter_.Text("Upgrade completed successfully! Firmware " + Shown(state.imageVersion) +
                       " starts after a reboot (kbr3300ctl reboot).");
        reporter_.Event("result", {{"command", "upgrade"},
                                   {"exit", EXIT_DONE},
                                   {"firmware_version", state.imageVersion},
                                   {"seconds", seconds}});
        return {};
    }
    if (outcome.stopped) {
        context_.Disconnect();
        if (!transferring) return Fail(EXIT_INTERRUPTED, "upgrade interrupted before anything was sent");
        return Fail(EXIT_INTERRUPTED, "upgrade aborted during pass " + std::to_string(operation.Pass()) +
                                          ": the adaptor holds part of the new firmware and may not start "
                                          "from it. Upgrade it again before you restart it");
    }
    if (older) {
        return Fail(EXIT_REFUSED, "the image holds firmware " + Shown(state.imageVersion) +
                                      ", older than the adaptor's " + Shown(state.deviceVersion) +
                                      ". Not upgraded (--allow-older upgrades all the same)");
    }
    const std::string file = ShownPath(invocation_.arguments[0]);
    if (const auto* refused = outcome.Last<ImageRefused>()) {
        std::vector<std::string> said = outcome.messages;
        said.push_back(refused->reason);
        return Fail(EXIT_BAD_IMAGE, file + ": " + Shown(Joined(said, " ")));
    }
    if (!outcome.messages.empty() && outcome.messages.back() == "Product IDs do not match!") {
        return Fail(EXIT_BAD_IMAGE, "Product IDs do not match! The image is for " + Shown(state.imageProductId) +
                                        ", the adaptor is a " + Shown(state.deviceProductId) + ". Nothing was sent");
    }
    if (asked && declined && !outcome.lost) {
        return Fail(EXIT_REFUSED, "Firmware = " + Shown(state.imageVersion) +
                                      " matches device version! Not upgraded (--force upgrades all the same)");
    }
    if (!outcome.lost && !outcome.timedOut && outcome.lastReply && outcome.lastReply->status == 0) {
        // Ended on an answer that looks right: the image may be what the upgrade cannot send.
        if (auto problem = UnsendableImage(path)) return Fail(EXIT_BAD_IMAGE, file + ": " + *problem);
    }
    return Failure(outcome, "");
}

}  // namespace kbr::ctl
