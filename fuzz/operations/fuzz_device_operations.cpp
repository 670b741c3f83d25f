// Runs the device operations one after another in a page window of our own (a fake context), as
// the queue pump does, and lets the input choose what happens meanwhile: the device's real
// answers (from the simulator's session), answers cut short, changed or replaced by any bytes,
// 16-byte reads (which the link never delivers), lost answers, repeated answers, timer expiries,
// the link lost (the window drops its operation), and what the user answers in every box, with
// further events while the box is open.
//
// Input: records, one per operation:
//   function byte (function = byte % 16), args byte (image choice for 8 and 14, else the length of
//   an args text that follows), then event bytes until the operation ends:
//     low 4 bits 0-3, 13-15  the device's answer to the last request
//                4           that answer cut to a chosen length (next byte)
//                5           that answer with one byte changed (offset byte, value byte)
//                6           a read of any bytes (length byte x 8, then the bytes)
//                7           the answer comes as a 16-byte read: nothing reaches the operation
//                8           OPERATION_TIMER expires
//                9           the clock moves on by (high 4 bits) seconds
//                10          the link is lost: the window drops the operation and connects again
//                11          the last read again
//                12          the answer is lost
//   Answers come in the order of the requests, so one that comes late reaches what waits then.
//   Each box takes one byte: bit 0 the user's answer, bits 1-2 how many events happen meanwhile.
// When the input ends, the timer runs on until the operation ends.
//
// Checked besides the sanitizers: every operation ends (the timer always runs while one waits);
// it completes exactly once, or not at all where it ends silently (a time-out of the login, which
// says "Unable to login" instead, of the configuration read and of the diagnostics), was dropped,
// or only stores a value; once it has completed or been dropped it sends, calls and completes
// nothing more; an ended operation leaves no timer running and an ended upgrade no progress
// window shown; every request fits the receive buffer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devtools/image/ImageBuilder.h"
#include "link/Messages.h"
#include "platform/Platform.h"
#include "tests/operations/FakeContext.h"
#include "devtools/devsim/DeviceModel.h"
#include "devtools/devsim/Session.h"

using namespace kbr;

namespace {

// The operations run one at a time, without the login that the program makes first: the device
// serves them as if it had been made.
constexpr devsim::SessionRules NO_LOGIN_CHECK{false, nullptr};

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

class Input {
public:
    explicit Input(std::span<const uint8_t> data) : data_(data) {}
    bool Empty() const { return data_.empty(); }
    uint8_t Byte() {
        if (data_.empty()) return 0;
        const uint8_t b = data_[0];
        data_ = data_.subspan(1);
        return b;
    }
    std::span<const uint8_t> Take(size_t n) {
        const auto taken = data_.first(std::min(n, data_.size()));
        data_ = data_.subspan(taken.size());
        return taken;
    }

private:
    std::span<const uint8_t> data_;
};

// Upgrade images written once per process: a good one, one whose version is the device's (the
// user is asked), one of another product, one with a broken CRC, and a path with no file.
struct Images {
    std::string folder;
    std::vector<std::string> paths;
    Images() {
        folder = platform::MakeFreshFolder(std::filesystem::temp_directory_path().string(), "kbr-fuzz-ops-");
        const devsim::DeviceIdentity device;
        auto write = [&](const char* name, const ImageSpec& image) {
            const std::string path = folder + "/" + name;
            const auto bytes = BuildUpgradeImage(image);
            if (!bytes || !WriteImageFile(path, *bytes, nullptr)) Broken("cannot write a fuzz image");
            paths.push_back(path);
        };
        write("good.img", StandardImageSpec(device.productId, "2.0.0.1", "2.0.0.1", 700, 300));
        write("same.img", StandardImageSpec(device.productId, device.firmware.text, device.firmware.text, 300, 300));
        write("other.img", StandardImageSpec("OTHER", "2.0.0.1", "2.0.0.1", 300, 300));
        ImageSpec broken = StandardImageSpec(device.productId, "2.0.0.1", "2.0.0.1", 300, 300);
        broken.defect = ImageDefect::Section2Crc;
        write("broken.img", broken);
        paths.push_back(folder + "/missing.img");
    }
    ~Images() {
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
};

enum class EventKind { None, Reply, Timeout, Drop };

class FuzzWindow : public test::FakeContext {
public:
    FuzzWindow(Input& input, devsim::DeviceModel& device) : input_(input), device_(device) { Reconnect(); }

    // Runs one operation to its end and checks how it ended.
    void RunOperation(PageFunction function, const std::string& args) {
        completionsBefore_ = completions.size();
        dropped_ = false;
        done_ = false;
        endedBy_ = EventKind::None;
        becameActive_ = false;
        const size_t messagesBefore = messages.size();
        OperationHandler* op = Run(function, args);
        if (!op) return;
        for (int steps = 0; Waiting(op) && steps < 512 && !input_.Empty(); ++steps) {
            Event();
            CheckWaiting(op);
        }
        // Nothing more happens: the window's timer ends whatever still waits.
        for (int expiries = 0; Waiting(op); ++expiries) {
            if (expiries == 4 || !timerDue) Broken("an operation waits with no timer to end it");
            Expire();
        }
        const size_t completed = completions.size() - completionsBefore_;
        if (completed > 1) Broken("more than one completion");
        if (dropped_) return;
        // Storing a value and reading an image's version report nothing.
        using enum PageFunction;
        const bool reports = function != FUNC_SET_ADMIN_PSWD && function != FUNC_SET_CHAN_MASK &&
                             function != FUNC_SET_SWCONFIG && function != FUNC_SET_MOCA_PSWD &&
                             function != FUNC_SET_DIPLEXER_MODE && function != FUNC_SET_SCAN_MASK &&
                             function != FUNC_READ_IMAGE_VERSION;
        if (!reports) {
            if (completed != 0 || becameActive_) Broken("a storing operation talked to the device or completed");
            return;
        }
        if (!becameActive_) {
            if (completed != 1) Broken("an operation that failed to start did not complete");
            return;
        }
        if (timerDue) Broken("an ended operation left its timer running");
        if (function == FUNC_UPGRADE_IMAGE && progressVisible)
            Broken("the upgrade ended with its progress window shown");
        if (completed == 0) {
            const bool silent = endedBy_ == EventKind::Timeout &&
                                (function == FUNC_LOGIN || function == FUNC_GETCONFIG || function == FUNC_GET_DIAG);
            if (!silent) Broken("an operation ended without completing");
            if (function == FUNC_LOGIN && (messages.size() == messagesBefore || messages.back() != "Unable to login")) {
                Broken("a login that timed out said nothing");
            }
        }
    }

    // ---- What the operation does, checked against its state
    void Send(std::span<const uint8_t> request) override {
        Live("sent");
        if (request.size() < MESSAGE_HEADER_SIZE || request.size() > RECEIVE_BUFFER_SIZE) Broken("request size");
        FakeContext::Send(request);
        // The device answers every request once; the input decides what becomes of the answer.
        devsim::Outcome outcome = session_->Handle(request);
        if (outcome.reply && answers_.size() < 8) answers_.push_back(std::move(*outcome.reply));
        if (outcome.close)
            session_.emplace(device_, std::span<const devsim::FaultSpec>(), "fuzz", nullptr, NO_LOGIN_CHECK);
    }
    void StartOperationTimer(uint32_t periodMs) override {
        Live("started the timer");
        becameActive_ = true;
        FakeContext::StartOperationTimer(periodMs);
    }
    void CallPage(std::string_view function, const std::vector<std::string>& args, PageCallForm form) override {
        Live("called the page");
        FakeContext::CallPage(function, args, form);
    }
    void CompleteOperation(int result) override {
        Live("completed");
        done_ = true;
        FakeContext::CompleteOperation(result);
    }
    void SetActiveOperation(OperationHandler* operation) override {
        if (operation) Live("became active");
        if (!operation && endedBy_ == EventKind::None) endedBy_ = current_;
        FakeContext::SetActiveOperation(operation);
    }
    void ShowMessage(std::string_view text) override {
        messages.emplace_back(text);
        Modal();
    }
    bool AskYesNo(std::string_view question) override {
        questions.emplace_back(question);
        return Modal();
    }

private:
    bool Waiting(OperationHandler* op) const { return !dropped_ && op->IsRunning() && ActiveOperation() == op; }
    void CheckWaiting(OperationHandler* op) const {
        if (Waiting(op) && !timerDue) Broken("an operation waits with no timer running");
    }
    void Live(const char* what) const {
        if (done_ || dropped_) {
            std::fprintf(stderr, "after its end the operation %s\n", what);
            std::abort();
        }
    }
    void Reconnect() {
        session_.emplace(device_, std::span<const devsim::FaultSpec>(), "fuzz", nullptr, NO_LOGIN_CHECK);
        answers_.clear();
    }

    void Deliver(std::span<const uint8_t> read, EventKind kind = EventKind::Reply) {
        last_.assign(read.begin(), read.end());
        if (read.empty() || read.size() == 16) return;  // no read, or one the link never delivers
        const EventKind outer = std::exchange(current_, kind);
        Reply(read);
        current_ = outer;
    }
    void Expire() {
        if (!timerDue) return;
        const EventKind outer = std::exchange(current_, EventKind::Timeout);
        Advance(*timerDue - now);
        current_ = outer;
    }
    bool Modal() {
        const uint8_t b = input_.Byte();
        if (depth_ < 2) {
            ++depth_;
            for (int i = 0; i < ((b >> 1) & 3); ++i) Event();
            --depth_;
        }
        return b & 1;
    }

    void Event() {
        const uint8_t e = input_.Byte();
        switch (e & 0x0F) {
            case 4:
                if (auto answer = NextAnswer()) {
                    Deliver(std::span<const uint8_t>(*answer).first(input_.Byte() % (answer->size() + 1)));
                }
                break;
            case 5:
                if (auto answer = NextAnswer(); answer && !answer->empty()) {
                    const size_t at = input_.Byte() % answer->size();
                    (*answer)[at] = input_.Byte();
                    Deliver(*answer);
                }
                break;
            case 6: Deliver(input_.Take(size_t{input_.Byte()} * 8)); break;
            case 7:
            case 12: (void)NextAnswer(); break;  // it never arrives
            case 8: Expire(); break;
            case 9: {
                const EventKind outer = std::exchange(current_, EventKind::Timeout);
                Advance(static_cast<uint64_t>(e >> 4) * 1000);
                current_ = outer;
                break;
            }
            case 10:
                // Lost connection: the window drops its active operation and connects again. An
                // operation still in its Start (a file-error box is open) is not active yet and
                // goes on to its end as usual.
                if (ActiveOperation()) dropped_ = true;
                Drop();
                Reconnect();
                break;
            case 11: {
                const Bytes again = last_;
                Deliver(again);
                break;
            }
            default:
                if (auto answer = NextAnswer()) Deliver(*answer);
                break;
        }
    }

    // Answers arrive in the order of their requests: a late one reaches whatever waits then.
    std::optional<Bytes> NextAnswer() {
        if (answers_.empty()) return std::nullopt;
        Bytes answer = std::move(answers_.front());
        answers_.pop_front();
        return answer;
    }

    Input& input_;
    devsim::DeviceModel& device_;
    std::optional<devsim::Session> session_;
    std::deque<Bytes> answers_;
    Bytes last_;
    size_t completionsBefore_ = 0;
    bool dropped_ = false;
    bool done_ = false;
    bool becameActive_ = false;
    EventKind current_ = EventKind::None;
    EventKind endedBy_ = EventKind::None;
    int depth_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Images images;
    Input input(std::span<const uint8_t>(data, size));
    devsim::DeviceModel device(devsim::DeviceIdentity{}, devsim::DeviceSettings{});
    FuzzWindow window(input, device);
    for (int operations = 0; operations < 16 && !input.Empty(); ++operations) {
        // Every page function, by its number (the seeds were made that way).
        const auto function = static_cast<PageFunction>(input.Byte() % 16);
        const uint8_t argsByte = input.Byte();
        std::string args;
        if (function == PageFunction::FUNC_UPGRADE_IMAGE || function == PageFunction::FUNC_READ_IMAGE_VERSION) {
            args = images.paths[argsByte % images.paths.size()];
        } else {
            const auto text = input.Take(argsByte % 24);
            args.assign(text.begin(), text.end());
        }
        window.RunOperation(function, args);
    }
    return 0;
}
