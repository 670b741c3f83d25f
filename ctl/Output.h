#pragma once
// Where kbr3300ctl's words go. Results go to standard output: lines of text, or with --json one
// JSON object per line. Errors are one line on standard error (and, with --json, an "error"
// object on standard output as well, so that a script reading it learns the reason). The upgrade
// progress is a bar on standard error while that is a terminal, "progress" objects with --json,
// and nothing otherwise.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kbr::ctl {

using Json = nlohmann::ordered_json;

class Reporter {
public:
    Reporter(bool json, std::FILE* out, std::FILE* err) : json_(json), out_(out), err_(err) {}

    bool JsonLines() const { return json_; }
    // A line of the text output (nothing with --json).
    void Text(std::string_view line) const;
    // A JSON line with "event" first (nothing without --json).
    void Event(std::string_view event, Json fields = Json::object()) const;
    // The one line of an error, and with --json its "error" object with the exit code.
    void Error(int exitCode, std::string_view message) const;
    // A line on standard error that is not an error (a note, a hint).
    void Note(std::string_view line) const;

    std::FILE* ErrorStream() const { return err_; }

private:
    bool json_;
    std::FILE* out_;
    std::FILE* err_;
};

// The upgrade's progress over both sections: bytes sent of the whole image, with the rate seen
// so far giving the time left.
class UpgradeProgressView {
public:
    using Clock = std::chrono::steady_clock;

    // bar: draw the bar on the reporter's error stream (a terminal).
    UpgradeProgressView(const Reporter& reporter, bool bar) : reporter_(reporter), bar_(bar) {}

    void Begin(uint64_t section1, uint64_t section2);
    // A pass (1 or 2) starts, or starts again from its first chunk.
    void PassStarted(int pass);
    // `bytes` more of the current pass went out.
    void Sent(uint64_t bytes);
    // Ends the bar's line.
    void Finish();

    // "[#####-----]  50%  2.0 / 4.0 MiB  0:03 left", width characters of bar.
    static std::string BarLine(uint64_t done, uint64_t total, std::chrono::seconds left, bool leftKnown,
                               int width = 30);

private:
    uint64_t Done() const;
    void Show(bool force);

    const Reporter& reporter_;
    bool bar_;
    uint64_t sizes_[2] = {0, 0};
    int pass_ = 0;
    uint64_t inPass_ = 0;
    int lastStep_ = 0;      // the last 5% step reported
    int lastPercent_ = -1;  // the percent last drawn
    Clock::time_point started_;
    Clock::time_point lastDrawn_;
    bool drawn_ = false;
};

}  // namespace kbr::ctl
