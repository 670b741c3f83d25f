// Process facts only a POSIX system has: ended children that nobody has reaped yet.
#include "platform/Platform.h"
#include "platform/ProcessHandle.h"
#include "testkit/WaitUntil.h"
#include "testkit/ScratchFolder.h"

#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX SIGTERM
#include <spawn.h>
#include <sys/wait.h>

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

}  // namespace
}  // namespace kbr::platform
