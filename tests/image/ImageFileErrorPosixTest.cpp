// File errors that only a POSIX system can provoke: a file used as a folder, names too long, link
// loops, pipes, read errors, descriptor limits and permissions that bind the user.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include "tests/image/FileErrorSupport.h"

namespace kbr {
namespace {

using test::Messages;
using test::MessagesOfLoad;
using test::ProvokedFileErrors;

TEST_F(ProvokedFileErrors, PathCauses) {
    // A regular file used as a folder.
    EXPECT_EQ(MessagesOfLoad(image_ + "/image.bin"), Messages{"All or part of the path is invalid."});
    EXPECT_EQ(MessagesOfLoad(dir_.File(std::string(300, 'x'))), Messages{"All or part of the path is invalid."});
    std::filesystem::create_symlink(dir_.File("loop-b"), dir_.File("loop-a"));
    std::filesystem::create_symlink(dir_.File("loop-a"), dir_.File("loop-b"));
    EXPECT_EQ(MessagesOfLoad(dir_.File("loop-a")), Messages{"All or part of the path is invalid."});
}

TEST_F(ProvokedFileErrors, APipeIsRefusedAtOnceInsteadOfWaitingForAWriter) {
    const std::string fifo = dir_.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(MessagesOfLoad(fifo), Messages{"There was an error trying to set the file pointer."});
}

TEST_F(ProvokedFileErrors, ReadErrorIsAHardwareError) {
    // Reading a process's memory at address 0 fails with EIO.
    if (!std::filesystem::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc";
    EXPECT_EQ(MessagesOfLoad("/proc/self/mem"), Messages{"There was a hardware error."});
}

TEST_F(ProvokedFileErrors, TooManyOpenFiles) {
    // Lower this process's limit to the lowest free descriptor, so the next open fails.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const Messages shown = MessagesOfLoad(image_);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(shown, Messages{"The permitted number of open files was exceeded."});
}

TEST_F(ProvokedFileErrors, AccessDenied) {
    // Root reads any file, so the check runs in a child that gives up root first; an ordinary
    // user is refused by the file's permissions alone.
    ASSERT_EQ(::chmod(image_.c_str(), 0), 0);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        const int probe = ::open(image_.c_str(), O_RDONLY);
        if (probe >= 0) ::_exit(2);  // permissions do not bind this user
        std::string shown;
        (void)LoadImageSection(image_, 1, [&](const std::string& m) { shown += m + "\n"; });
        if (::write(fds[1], shown.data(), shown.size()) != static_cast<ssize_t>(shown.size())) ::_exit(4);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string shown;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) shown.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2 || WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot take away read permission here";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(shown, "The file could not be accessed.\n");
}

}  // namespace
}  // namespace kbr
