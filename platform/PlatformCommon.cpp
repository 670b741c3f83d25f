// What every system's platform layer shares: the name comparison of the process search and the
// bounded whole-file read over the system's own file calls.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <new>
#include <optional>
#include <random>

#include "platform/ChildProcess.h"
#include "platform/FileAccess.h"
#include "platform/Platform.h"
#include "platform/ProcessFacts.h"

namespace kbr::platform {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

WholeFile Failed(int error) {
    WholeFile result;
    result.error = error;
    return result;
}

}  // namespace

std::vector<ProcessInfo> FindProcessesByName(std::string_view name) {
    auto all = ListProcesses();
    std::vector<ProcessInfo> found;
    for (auto& info : all) {
        if (EqualsNoCase(info.executableName, name)) found.push_back(std::move(info));
    }
    return found;
}

std::string MakeFreshFolder(const std::string& parent, std::string_view prefix) {
    std::random_device seed;
    std::mt19937_64 random((static_cast<uint64_t>(seed()) << 32) ^ seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = std::filesystem::path(parent) / (std::string(prefix) + std::to_string(random()));
        std::error_code ec;
        // create_directory is false for a folder that is there already: somebody else's.
        if (std::filesystem::create_directory(candidate, ec)) return candidate.string();
        if (ec) return {};
    }
    return {};
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args, int timeoutMs,
                      bool searchPath) {
    RunOptions options;
    options.searchPath = searchPath;
    return RunProgram(program, args, timeoutMs, options);
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args, int timeoutMs,
                      const RunOptions& options) {
    ProgramRun run;
    ChildProcess child;
    ChildProcess::Options start;
    start.searchPath = options.searchPath;
    start.environment = options.environment;
    start.discardOutput = options.leaveRunning;
    if (!child.Start(program, args, &run.errors, start)) return run;
    run.started = true;
    using Stream = ChildProcess::Stream;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    bool outputOpen = !options.leaveRunning;
    bool errorOpen = !options.leaveRunning;
    const auto bound = [&] {
        if (run.output.size() > options.outputMax) run.output.resize(options.outputMax);
        if (run.errors.size() > options.outputMax) run.errors.resize(options.outputMax);
    };
    // Until the program has ended, not until its pipes do: a program it started may still hold
    // them.
    std::optional<int> ended;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        if (outputOpen) outputOpen = child.Read(Stream::Output, run.output, 5);
        if (errorOpen) errorOpen = child.Read(Stream::Error, run.errors, 5);
        bound();
        ended = child.Wait(outputOpen || errorOpen ? 0 : 5);
    }
    if (!ended) {
        if (options.leaveRunning) {
            child.Detach();
            run.leftRunning = true;
            return run;
        }
        child.Kill();
        (void)child.Wait(-1);
        run.timedOut = true;
        return run;
    }
    // What it wrote just before it ended.
    if (outputOpen) (void)child.Read(Stream::Output, run.output, 0);
    if (errorOpen) (void)child.Read(Stream::Error, run.errors, 0);
    bound();
    run.exitCode = *ended;
    return run;
}

WholeFile ReadWholeFile(const std::string& path, uint64_t maxSize) {
    Descriptor fd(file::OpenForReading(path));
    if (fd.Get() < 0) return Failed(errno);
    uint64_t size = 0;
    if (const int error = file::RegularFileSize(fd.Get(), size); error != 0) return Failed(error);

    WholeFile result;
    if (size > maxSize) {
        result.tooLarge = true;
        return result;
    }
    // The size is a hint only: the file may change while it is read. Read to its end, but never
    // more than the bound.
    try {
        result.bytes.resize(static_cast<size_t>(size) + 1);
        size_t total = 0;
        for (;;) {
            if (total == result.bytes.size()) {
                if (total > maxSize) {
                    result.bytes.clear();
                    result.tooLarge = true;
                    return result;
                }
                result.bytes.resize(static_cast<size_t>(std::min<uint64_t>(total * 2 + 4096, maxSize + 1)));
            }
            const long got = file::ReadSome(fd.Get(), result.bytes.data() + total, result.bytes.size() - total);
            if (got < 0) {
                if (errno == EINTR) continue;
                return Failed(errno);
            }
            if (got == 0) break;
            total += static_cast<size_t>(got);
        }
        result.bytes.resize(total);
    } catch (const std::bad_alloc&) {
        return Failed(ENOMEM);
    }
    return result;
}

std::vector<std::string> SplitCommandLine(std::string_view nulSeparated) {
    std::vector<std::string> arguments;
    while (!nulSeparated.empty()) {
        const size_t end = nulSeparated.find('\0');
        arguments.emplace_back(nulSeparated.substr(0, end));
        if (end == std::string_view::npos) break;
        nulSeparated.remove_prefix(end + 1);
    }
    return arguments;
}

}  // namespace kbr::platform
