// Process facts only a POSIX system has: ended children that nobody has reaped yet.
#include "platform/Platform.h"
#include "tests/platform/WaitUntil.h"

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

using test::WaitUntil;

// An ended process that its parent has not reaped yet still has a /proc entry, but it runs
// nothing: a wizard that crashed and left such an entry must not count as running.
TEST(Processes, AnEndedProcessNotYetReapedIsNotListed) {
    const std::string name = "Kbr" + std::to_string(CurrentProcessId()) + "_Program";
    const fs::path dir = MakeFreshFolder(fs::temp_directory_path().string(), "kbr-platform-");
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
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kbr::platform
