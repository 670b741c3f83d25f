// Processes: started (detached or waited for), found by executable name, and ended.
#include "platform/Platform.h"
#include "testkit/WaitUntil.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ProgramNames.h"
#include "testkit/ScratchFolder.h"

namespace kbr::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A file name as this system's executables have it ("name" on Linux, "name.exe" on Windows).
std::string Executable(const std::string& name) { return name + EXECUTABLE_SUFFIX; }

// A folder with a copy of platform_helper under a chosen name, so a test can start a process that
// looks like another program.
class DummyProgram {
public:
    explicit DummyProgram(const std::string& name) {
        path_ = fs::path(dir_.Path()) / Executable(name);
        fs::copy_file(KBR_PLATFORM_HELPER, path_, fs::copy_options::overwrite_existing);
        fs::permissions(path_, fs::perms::owner_all);
    }
    std::string Path() const { return path_.string(); }
    std::string Dir() const { return dir_.Path(); }

private:
    testkit::ScratchFolder dir_{"kbr-platform-"};
    fs::path path_;
};

using testkit::WaitUntil;

// Names no other program on this machine has, so that processes other tests start (a wizard, the
// configuration program) are never counted here.
std::string UniqueName(const std::string& stem) { return "Kbr" + std::to_string(CurrentProcessId()) + "_" + stem; }

std::string Cased(std::string text, int (*change)(int)) {
    for (char& c : text) c = static_cast<char>(change(static_cast<unsigned char>(c)));
    return text;
}

TEST(Processes, FoundByExecutableNameWithoutRegardToCaseAndEnded) {
    const std::string name = UniqueName("Wizardd");
    const std::string file = Executable(name);
    DummyProgram dummy(name);
    StartResult started = StartProcess(dummy.Path(), {"sleep", "30000"});
    ASSERT_TRUE(started.started) << started.error;

    for (const std::string& asked : {file, Cased(file, ::tolower), Cased(file, ::toupper)}) {
        ASSERT_TRUE(WaitUntil([&] { return !FindProcessesByName(asked).empty(); })) << asked;
    }
    auto found = FindProcessesByName(Cased(file, ::tolower));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, started.pid);
    EXPECT_EQ(found[0].executableName, file);
    EXPECT_TRUE(FindProcessesByName(Executable(name.substr(0, name.size() - 1))).empty()) << "a prefix is not the name";

    EXPECT_TRUE(TerminateAndWait(started.pid, 5000));
    EXPECT_TRUE(WaitUntil([&] { return FindProcessesByName(file).empty(); }));
    EXPECT_FALSE(TerminateAndWait(started.pid, 100)) << "already gone";
}

TEST(Processes, CurrentProcessIsListed) {
    auto self = CurrentExecutableName();
    EXPECT_EQ(self, Executable("platform_tests"));
    bool listed = false;
    for (const auto& info : FindProcessesByName(self)) listed |= info.pid == CurrentProcessId();
    EXPECT_TRUE(listed);
}

TEST(StartProcess, WithoutTheSearchPathABareNameMeansTheWorkingDirectory) {
    DummyProgram dummy("kbr-helper");
    const std::string bare = Executable("kbr-helper");
    StartOptions options;
    options.wait = true;
    options.workingDirectory = fs::temp_directory_path().string();  // not there
    auto result = StartProcess(bare, {"exit", "0"}, options);
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(result.error.empty());

    options.workingDirectory = dummy.Dir();
    result = StartProcess(bare, {"exit", "5"}, options);
    EXPECT_TRUE(result.started) << result.error;
    EXPECT_EQ(result.exitCode, 5);
}

TEST(StartProcess, TheSearchPathFindsTheSystemsPrograms) {
    StartOptions options;
    options.wait = true;
    options.searchPath = true;
#ifdef _WIN32
    auto result = StartProcess("cmd.exe", {"/c", "exit 0"}, options);
#else
    auto result = StartProcess("sleep", {"0"}, options);
#endif
    EXPECT_TRUE(result.started) << result.error;
    EXPECT_EQ(result.exitCode, 0);
}

TEST(StartProcess, PassesArgumentsAsTheyAreAndReportsTheExitCode) {
    StartOptions options;
    options.wait = true;
    auto result = StartProcess(KBR_PLATFORM_HELPER, {"exit", "7"}, options);
    ASSERT_TRUE(result.started) << result.error;
    EXPECT_EQ(result.exitCode, 7);

    // Arguments that a command line has to quote come through unchanged.
    const testkit::ScratchFolder scratch("kbr-args-");
    const std::string& dir = scratch.Path();
    ASSERT_FALSE(dir.empty());
    const std::string file = (fs::path(dir) / "args.txt").string();
    const std::vector<std::string> args = {
        "plain", "two words", "", "say \"hi\"", "back\\slash\\", "tab\there", "C:\\fakepath\\osimage.bin", "/release"};
    std::vector<std::string> all = {"args", file};
    all.insert(all.end(), args.begin(), args.end());
    result = StartProcess(KBR_PLATFORM_HELPER, all, options);
    ASSERT_TRUE(result.started) << result.error;
    EXPECT_EQ(result.exitCode, 0);
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> got;
    for (std::string line; std::getline(in, line);) got.push_back(line);
    EXPECT_EQ(got, args);
    in.close();
}

TEST(StartProcess, DetachedStartsDoNotWait) {
    const auto start = std::chrono::steady_clock::now();
    auto result = StartProcess(KBR_PLATFORM_HELPER, {"sleep", "3000"});
    ASSERT_TRUE(result.started) << result.error;
    EXPECT_GT(result.pid, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(TerminateAndWait(result.pid, 5000));
}

}  // namespace
}  // namespace kbr::platform
