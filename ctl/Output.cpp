#include "ctl/Output.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>

#include "link/PrintableText.h"

namespace kbr::ctl {

namespace {

void WriteLine(std::FILE* stream, std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

std::string Mebibytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace

std::string PrintablePath(std::string_view path) {
    std::string shown = PrintableText(path);
#ifdef _WIN32
    for (size_t at = shown.find("\\\\"); at != std::string::npos; at = shown.find("\\\\", at + 1)) shown.erase(at, 1);
#endif
    return shown;
}

void Reporter::Text(std::string_view line) const {
    if (!json_) WriteLine(out_, line);
}

void Reporter::Event(std::string_view event, Json fields) const {
    if (!json_) return;
    // A query's one document is its result (or its error); only long work tells its steps.
    if (!stream_ && event != "result" && event != "error") return;
    Json line = {{"event", event}};
    for (auto& [key, value] : fields.items()) line[key] = std::move(value);
    WriteLine(out_, line.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void Reporter::Error(int exitCode, std::string_view message) const {
    WriteLine(err_, "kbr3300ctl: " + std::string(message));
    Event("error", {{"exit", exitCode}, {"message", message}});
}

void Reporter::Note(std::string_view line) const { WriteLine(err_, "kbr3300ctl: " + std::string(line)); }

// ---- UpgradeProgressView

void UpgradeProgressView::Begin(uint64_t section1, uint64_t section2) {
    sizes_[0] = section1;
    sizes_[1] = section2;
    started_ = Clock::now();
    lastStep_ = 0;
    lastPercent_ = -1;
}

void UpgradeProgressView::PassStarted(int pass) {
    const bool again = pass == pass_;
    again_ = again;
    pass_ = pass;
    inPass_ = 0;
    if (pass >= 1 && pass <= 2) {
        reporter_.Event(
            "phase", {{"phase", pass == 1 ? "pass1" : "pass2"}, {"section_bytes", sizes_[pass - 1]}, {"again", again}});
    }
    // A pass that starts again goes back; its 5% steps are reported again as it climbs.
    lastStep_ = static_cast<int>(Done() * 20 / std::max<uint64_t>(1, sizes_[0] + sizes_[1]));
    Show(true);
}

void UpgradeProgressView::Sent(uint64_t bytes) {
    if (pass_ < 1 || pass_ > 2) return;
    inPass_ = std::min(inPass_ + bytes, sizes_[pass_ - 1]);
    Show(false);
}

uint64_t UpgradeProgressView::Done() const {
    if (pass_ < 1) return 0;
    return (pass_ == 2 ? sizes_[0] : 0) + inPass_;
}

void UpgradeProgressView::Show(bool force) {
    const uint64_t total = std::max<uint64_t>(1, sizes_[0] + sizes_[1]);
    const uint64_t done = Done();
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const bool leftKnown = done > 0 && elapsed > 0.2;
    const double leftSeconds = leftKnown ? elapsed * static_cast<double>(total - done) / static_cast<double>(done) : 0;

    // Every 5% step passed gets its line, also when one chunk passes several.
    const int step = static_cast<int>(done * 20 / total);
    while (step > lastStep_) {
        ++lastStep_;
        Json fields = {{"percent", lastStep_ * 5}, {"bytes", done}, {"total", total}};
        if (leftKnown) fields["seconds_left"] = static_cast<int64_t>(std::llround(leftSeconds));
        reporter_.Event("progress", std::move(fields));
    }
    if (!bar_) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (!force && percent == lastPercent_ && now - lastDrawn_ < std::chrono::milliseconds(250)) return;
    lastPercent_ = percent;
    lastDrawn_ = now;
    drawn_ = true;
    std::string line = "\r";
    line += BarLine(done, total, std::chrono::seconds(std::llround(leftSeconds)), leftKnown);
    if (pass_ >= 1 && pass_ <= 2) line += "  pass " + std::to_string(pass_) + " of 2" + (again_ ? ", retry" : "");
    line += "  ";
    std::fwrite(line.data(), 1, line.size(), reporter_.ErrorStream());
    std::fflush(reporter_.ErrorStream());
}

void UpgradeProgressView::Finish() {
    if (!drawn_) return;
    std::fputc('\n', reporter_.ErrorStream());
    std::fflush(reporter_.ErrorStream());
    drawn_ = false;
}

std::string UpgradeProgressView::BarLine(uint64_t done, uint64_t total, std::chrono::seconds left, bool leftKnown,
                                         int width) {
    total = std::max<uint64_t>(1, total);
    done = std::min(done, total);
    const int filled = static_cast<int>(done * static_cast<uint64_t>(width) / total);
    std::string line = "[";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(width - filled), '-');
    line += ']';
    char text[96];
    std::snprintf(text, sizeof text, " %3d%%  %s / %s MiB", static_cast<int>(done * 100 / total),
                  Mebibytes(done).c_str(), Mebibytes(total).c_str());
    line += text;
    if (leftKnown) {
        const long long seconds = left.count();
        std::snprintf(text, sizeof text, "  %lld:%02lld left", seconds / 60, seconds % 60);
        line += text;
    }
    return line;
}

// ---- WaitingView

void WaitingView::Show(std::chrono::seconds elapsed, std::chrono::seconds left) {
    if (!shown_) return;
    char text[160];
    std::snprintf(text, sizeof text, "\r%s: %lld:%02lld elapsed, %lld:%02lld left  ", what_.c_str(),
                  static_cast<long long>(elapsed.count() / 60), static_cast<long long>(elapsed.count() % 60),
                  static_cast<long long>(left.count() / 60), static_cast<long long>(left.count() % 60));
    std::fputs(text, reporter_.ErrorStream());
    std::fflush(reporter_.ErrorStream());
    drawn_ = true;
}

void WaitingView::Finish() {
    if (!drawn_) return;
    std::fputc('\n', reporter_.ErrorStream());
    std::fflush(reporter_.ErrorStream());
    drawn_ = false;
}

}  // namespace kbr::ctl
