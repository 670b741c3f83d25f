#include <gtest/gtest.h>

#include <ostream>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include "link/ImageBuilder.h"
#include "link/UpgradeImage.h"
#include "tests/image/TempDir.h"

namespace kbr {
namespace {

// ---- errno to cause to message ----------------------------------------------------------------

struct ErrnoCase {
    int error;
    FileErrorCause cause;
    const char* message;
    friend void PrintTo(const ErrnoCase& c, std::ostream* os) { *os << "errno " << c.error << ": " << c.message; }
};

class FileErrorMapping : public testing::TestWithParam<ErrnoCase> {};

TEST_P(FileErrorMapping, ErrnoGivesCauseAndMessage) {
    EXPECT_EQ(FileErrorCauseFromErrno(GetParam().error), GetParam().cause);
    EXPECT_EQ(FileErrorMessage(GetParam().cause), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileErrorMapping,
    testing::Values(ErrnoCase{0, FileErrorCause::Unspecified, "An unspecified error occurred."},
                    ErrnoCase{ENOENT, FileErrorCause::NotFound, "The file could not be located."},
                    ErrnoCase{ENOTDIR, FileErrorCause::BadPath, "All or part of the path is invalid."},
                    ErrnoCase{ENAMETOOLONG, FileErrorCause::BadPath, "All or part of the path is invalid."},
                    ErrnoCase{ELOOP, FileErrorCause::BadPath, "All or part of the path is invalid."},
                    ErrnoCase{EMFILE, FileErrorCause::TooManyOpenFiles,
                              "The permitted number of open files was exceeded."},
                    ErrnoCase{ENFILE, FileErrorCause::TooManyOpenFiles,
                              "The permitted number of open files was exceeded."},
                    ErrnoCase{EACCES, FileErrorCause::AccessDenied, "The file could not be accessed."},
                    ErrnoCase{EPERM, FileErrorCause::AccessDenied, "The file could not be accessed."},
                    ErrnoCase{EISDIR, FileErrorCause::AccessDenied, "The file could not be accessed."},
                    ErrnoCase{EBADF, FileErrorCause::InvalidHandle,
                              "There was an attempt to use an invalid file handle."},
                    ErrnoCase{ESPIPE, FileErrorCause::BadSeek, "There was an error trying to set the file pointer."},
                    ErrnoCase{EIO, FileErrorCause::HardwareError, "There was a hardware error."},
                    ErrnoCase{ETXTBSY, FileErrorCause::SharingViolation, "Sharing Violation."},
                    ErrnoCase{EBUSY, FileErrorCause::SharingViolation, "Sharing Violation."},
                    ErrnoCase{ENOMEM, FileErrorCause::Other, "File Open Error."},
                    ErrnoCase{EINVAL, FileErrorCause::Other, "File Open Error."},
                    ErrnoCase{EOVERFLOW, FileErrorCause::Other, "File Open Error."}),
    [](const testing::TestParamInfo<ErrnoCase>& info) { return "errno" + std::to_string(info.param.error); });

// ---- causes provoked on a real file system -----------------------------------------------------

// What one load showed. File errors must show exactly one message.
std::vector<std::string> MessagesOfLoad(const std::string& path) {
    std::vector<std::string> shown;
    const auto section = LoadImageSection(path, 1, [&](const std::string& m) { shown.push_back(m); });
    EXPECT_FALSE(section.has_value());
    return shown;
}

class ProvokedFileErrors : public testing::Test {
protected:
    void SetUp() override {
        image_ = dir_.Write("image.bin", BuildUpgradeImage(StandardImageSpec("KBR3300", "1", "1")).value());
    }
    test::TempDir dir_;
    std::string image_;
};

using Messages = std::vector<std::string>;

TEST_F(ProvokedFileErrors, PathCauses) {
    EXPECT_EQ(MessagesOfLoad(dir_.File("absent.bin")), Messages{"The file could not be located."});
    EXPECT_EQ(MessagesOfLoad(dir_.File("absent/image.bin")), Messages{"The file could not be located."});
    EXPECT_EQ(MessagesOfLoad(""), Messages{"The file could not be located."});
    // A regular file used as a folder.
    EXPECT_EQ(MessagesOfLoad(image_ + "/image.bin"), Messages{"All or part of the path is invalid."});
    EXPECT_EQ(MessagesOfLoad(dir_.File(std::string(300, 'x'))), Messages{"All or part of the path is invalid."});
    std::filesystem::create_symlink(dir_.File("loop-b"), dir_.File("loop-a"));
    std::filesystem::create_symlink(dir_.File("loop-a"), dir_.File("loop-b"));
    EXPECT_EQ(MessagesOfLoad(dir_.File("loop-a")), Messages{"All or part of the path is invalid."});
}

TEST_F(ProvokedFileErrors, AFolderCannotBeAccessedAsAFile) {
    EXPECT_EQ(MessagesOfLoad(dir_.Path().string()), Messages{"The file could not be accessed."});
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

TEST_F(ProvokedFileErrors, NoSinkIsFine) {
    EXPECT_FALSE(LoadImageSection(dir_.File("absent.bin"), 1, {}));
    EXPECT_FALSE(LoadImageSection(dir_.File("absent.bin"), 1, nullptr));
}

}  // namespace
}  // namespace kbr
