#include "platform/Platform.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace kbr::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A folder with a copy of `sleep` under a chosen name, so a test can start a process that
// looks like another program.
class DummyProgram {
public:
    explicit DummyProgram(const std::string& name) {
        dir_ = fs::temp_directory_path() / ("kbr-platform-" + std::to_string(::getpid()) + "-" + name);
        fs::create_directories(dir_);
        path_ = dir_ / name;
        fs::copy_file("/bin/sleep", path_, fs::copy_options::overwrite_existing);
        fs::permissions(path_, fs::perms::owner_all);
    }
    ~DummyProgram() { fs::remove_all(dir_); }
    std::string Path() const { return path_.string(); }
    std::string Dir() const { return dir_.string(); }

private:
    fs::path dir_;
    fs::path path_;
};

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

// Names no other program on this machine has, so that processes other tests start (a wizard, the
// configuration program) are never counted here.
std::string UniqueName(const std::string& stem) { return "Kbr" + std::to_string(::getpid()) + "_" + stem; }

std::string Cased(std::string text, int (*change)(int)) {
    for (char& c : text) c = static_cast<char>(change(static_cast<unsigned char>(c)));
    return text;
}

TEST(Processes, FoundByExecutableNameWithoutRegardToCaseAndEnded) {
    const std::string name = UniqueName("Wizardd");
    DummyProgram dummy(name);
    StartResult started = StartProcess(dummy.Path(), {"30"});
    ASSERT_TRUE(started.started) << started.error;

    for (const std::string& asked : {name, Cased(name, ::tolower), Cased(name, ::toupper)}) {
        ASSERT_TRUE(WaitUntil([&] { return !FindProcessesByName(asked).empty(); })) << asked;
    }
    auto found = FindProcessesByName(Cased(name, ::tolower));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, started.pid);
    EXPECT_EQ(found[0].executableName, name);
    EXPECT_TRUE(FindProcessesByName(name.substr(0, name.size() - 1)).empty()) << "a prefix is not the name";

    EXPECT_TRUE(TerminateAndWait(started.pid, 5000));
    EXPECT_TRUE(FindProcessesByName(name).empty());
    EXPECT_FALSE(TerminateAndWait(started.pid, 100)) << "already gone";
}

// An ended process that its parent has not reaped yet still has a /proc entry, but it runs
// nothing: a wizard that crashed and left such an entry must not count as running.
TEST(Processes, AnEndedProcessNotYetReapedIsNotListed) {
    const std::string name = UniqueName("Program");
    DummyProgram dummy(name);
    char* argv[] = {const_cast<char*>(name.c_str()), const_cast<char*>("0"), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, dummy.Path().c_str(), nullptr, nullptr, argv, environ), 0);
    const std::string statPath = "/proc/" + std::to_string(pid) + "/stat";
    auto defunct = [&] {
        std::ifstream stat(statPath);
        std::string line;
        std::getline(stat, line);
        return line.find(") Z ") != std::string::npos;
    };
    ASSERT_TRUE(WaitUntil(defunct)) << "the child did not end";
    EXPECT_TRUE(FindProcessesByName(name).empty());
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
}

TEST(Processes, CurrentProcessIsListed) {
    auto self = CurrentExecutableName();
    EXPECT_EQ(self, "platform_tests");
    bool listed = false;
    for (const auto& info : FindProcessesByName(self)) listed |= info.pid == CurrentProcessId();
    EXPECT_TRUE(listed);
}

TEST(StartProcess, WithoutTheSearchPathABareNameMeansTheWorkingDirectory) {
    // "sleep" is on the search path but not in the working directory.
    StartOptions options;
    options.wait = true;
    options.workingDirectory = "/";
    auto result = StartProcess("sleep", {"0"}, options);
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(result.error.empty());

    options.searchPath = true;
    result = StartProcess("sleep", {"0"}, options);
    EXPECT_TRUE(result.started) << result.error;
    EXPECT_EQ(result.exitCode, 0);
}

TEST(StartProcess, PassesArgumentsAndReportsTheExitCode) {
    StartOptions options;
    options.wait = true;
    options.searchPath = true;
    auto result = StartProcess("sh", {"-c", "exit 7"}, options);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 7);
}

}  // namespace
}  // namespace kbr::platform
