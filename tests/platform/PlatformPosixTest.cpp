// Process facts only a POSIX system has: ended children that nobody has reaped yet, and processes
// ended that are not our children.
#include "platform/Platform.h"
#include "platform/ProcessHandle.h"
#include "testkit/WaitUntil.h"
#include "testkit/ScratchFolder.h"

#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX kill() and SIGTERM are declared here
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX has the program declare it

namespace kbr::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using testkit::WaitUntil;

// An ended process that its parent has not reaped yet still has a /proc entry, but it runs
// nothing: a wizard that crashed and left such an entry must not count as running.
TEST(Processes, AnEndedProcessNotYetReapedIsNotListed) {
    const std::string name = "Kbr" + std::to_string(CurrentProcessId()) + "_Program";
    const testkit::ScratchFolder scratch("kbr-platform-");
    const fs::path dir = scratch.Path();
    const fs::path program = dir / name;
    fs::copy_file(KBR_PLATFORM_HELPER, program);
    char* argv[] = {const_cast<char*>(name.c_str()), const_cast<char*>("exit"), const_cast<char*>("0"), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
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

// A hold on a process reaches that process only: once it has ended (and been reaped, so its pid
// is free for another), nothing is signalled through the hold.
TEST(Processes, AProcessHandleSignalsOnlyItsOwnProcess) {
    char* argv[] = {const_cast<char*>(KBR_PLATFORM_HELPER), const_cast<char*>("sleep"), const_cast<char*>("30000"),
                    nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, KBR_PLATFORM_HELPER, nullptr, nullptr, argv, environ), 0);
    const ProcessHandle handle = ProcessHandle::Open(pid);
    if (!handle.Valid()) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        GTEST_SKIP() << "this system has no pidfd";
    }
    EXPECT_EQ(handle.Pid(), pid);
    EXPECT_TRUE(handle.Alive());
    EXPECT_FALSE(handle.WaitEnded(50ms));
    EXPECT_TRUE(handle.Signal(SIGTERM));
    EXPECT_TRUE(handle.WaitEnded(10s));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_FALSE(handle.Alive());
    EXPECT_FALSE(handle.Signal(SIGTERM)) << "its pid may belong to another process now";
    EXPECT_FALSE(ProcessHandle::Open(pid).Valid());
}

// TerminateAndWait returns once the process has ended, whoever its parent is: the wizard that the
// configuration program ends is its parent, not its child. One of our own children is reaped, and
// one that ignores the request to end is ended for good.
struct EndCase {
    const char* name;
    bool ourChild;        // started by the test itself, not through a shell that leaves at once
    bool ignoresRequest;  // ignores SIGTERM
};

void PrintTo(const EndCase& row, std::ostream* out) { *out << row.name; }

class Ending : public ::testing::TestWithParam<EndCase> {};

TEST_P(Ending, TerminateAndWaitReturnsOnceTheProcessHasEnded) {
    const EndCase& row = GetParam();
    const fs::path dir = MakeFreshFolder(fs::temp_directory_path().string(), "kbr-platform-");
    ASSERT_FALSE(dir.empty());
    const std::string name = "Kbr" + std::to_string(CurrentProcessId()) + "_Ended";
    const fs::path program = dir / name;
    fs::copy_file(KBR_PLATFORM_HELPER, program);
    const fs::path ready = dir / "ready";
    const std::string mode = row.ignoresRequest ? "deaf" : "sleep";
    const std::string argument = row.ignoresRequest ? ready.string() : "30000";

    pid_t pid = 0;
    if (row.ourChild) {
        char* argv[] = {const_cast<char*>(name.c_str()), const_cast<char*>(mode.c_str()),
                        const_cast<char*>(argument.c_str()), nullptr};
        ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    } else {
        // Started in the background by a shell that then ends: its parent is no longer us.
        const fs::path pidFile = dir / "pid";
        const std::string script = "'" + program.string() + "' " + mode + " '" + argument +
                                   "' >/dev/null 2>&1 & echo $! > '" + pidFile.string() + "'";
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()), nullptr};
        pid_t shell = 0;
        ASSERT_EQ(::posix_spawn(&shell, "/bin/sh", nullptr, nullptr, argv, environ), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(shell, &status, 0), shell);
        std::ifstream(pidFile) >> pid;
        ASSERT_GT(pid, 0);
    }
    ASSERT_TRUE(WaitUntil([&] { return !FindProcessesByName(name).empty(); }));
    if (row.ignoresRequest) {
        ASSERT_TRUE(WaitUntil([&] { return fs::exists(ready); }));
    }

    EXPECT_TRUE(TerminateAndWait(pid, 200));
    EXPECT_TRUE(FindProcessesByName(name).empty()) << "still running after TerminateAndWait";
    if (row.ourChild) {
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, WNOHANG), -1) << "our child was left unreaped";
    } else {
        ::kill(pid, SIGKILL);  // in case it was not ended
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Processes, Ending,
                         ::testing::Values(EndCase{"OurChild", true, false}, EndCase{"NotOurChild", false, false},
                                           EndCase{"OurChildIgnoringTheRequest", true, true},
                                           EndCase{"NotOurChildIgnoringTheRequest", false, true}),
                         [](const ::testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbr::platform
