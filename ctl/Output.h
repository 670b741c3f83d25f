#pragma once
// Where kbr3300ctl's words go. Results go to standard output: lines of text, or with --json one
// JSON document: a query prints its result object alone, and long work (upgrade, wait, reboot
// --wait, diag --watch) prints JSON Lines, an object per event and the result object last. Errors
// are one line on standard error (and, with --json, an "error" object on standard output as
// well, so that a script reading it learns the reason). Progress is drawn on standard error while
// that is a terminal, reported as "progress" objects with --json, and not shown otherwise.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kbr::ctl {

using Json = nlohmann::ordered_json;

// A file's path as PrintableText shows text, except that a backslash stays one where it is the
// folder separator (Windows, where no name can hold a control byte).
std::string PrintablePath(std::string_view path);

class Reporter {
public:
    // stream: the command is long work, whose events are printed as they happen.
    Reporter(bool json, bool stream, std::FILE* out, std::FILE* err)
        : json_(json), stream_(stream), out_(out), err_(err) {}

    bool JsonLines() const { return json_; }
    // A line of the text output (nothing with --json).
    void Text(std::string_view line) const;
    // A JSON line with "event" first (nothing without --json; for a query only its result and
    // error).
    void Event(std::string_view event, Json fields = Json::object()) const;
    // The one line of an error, and with --json its "error" object with the exit code.
    void Error(int exitCode, std::string_view message) const;
    // A line on standard error that is not an error (a note, a hint).
    void Note(std::string_view line) const;

    std::FILE* ErrorStream() const { return err_; }

private:
    bool json_;
    bool stream_;
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
    bool again_ = false;  // the pass started again after a failed step
    uint64_t inPass_ = 0;
    int lastStep_ = 0;      // the last 5% step reported
    int lastPercent_ = -1;  // the percent last drawn
    Clock::time_point started_;
    Clock::time_point lastDrawn_;
    bool drawn_ = false;
};

// A line on the terminal while the tool waits for an adaptor: what it waits for, the time gone and
// the time left, redrawn in place.
class WaitingView {
public:
    WaitingView(const Reporter& reporter, bool shown, std::string what)
        : reporter_(reporter), shown_(shown), what_(std::move(what)) {}
    WaitingView(const WaitingView&) = delete;
    WaitingView& operator=(const WaitingView&) = delete;
    ~WaitingView() { Finish(); }

    void Show(std::chrono::seconds elapsed, std::chrono::seconds left);
    // Ends the line.
    void Finish();

private:
    const Reporter& reporter_;
    bool shown_;
    std::string what_;
    bool drawn_ = false;
};

}  // namespace kbr::ctl
