// Files in folders others may write to, and the problem log.

#include "platform/ProblemLog.h"
#include "platform/SafeFile.h"
#include "testkit/ScratchFolder.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kbr::platform {
namespace {

namespace fs = std::filesystem;

class SafeFiles : public ::testing::Test {
protected:
    std::string Slurp(const fs::path& path) { return testkit::ReadFileText(path); }
    testkit::ScratchFolder scratch_{"kbr-safefile-"};
    const fs::path dir_{scratch_.Path()};
};

TEST_F(SafeFiles, ReadsBoundedRegularFilesOnly) {
    std::ofstream(dir_ / "plain") << "0123456789";
    EXPECT_EQ(ReadRegularFile((dir_ / "plain").string(), 4), "0123");
    EXPECT_EQ(ReadRegularFile((dir_ / "plain").string(), 100), "0123456789");
    EXPECT_EQ(ReadRegularFile((dir_ / "plain").string(), 100, /*ownedByUs=*/true), "0123456789");
    EXPECT_FALSE(ReadRegularFile((dir_ / "missing").string(), 100));
    EXPECT_FALSE(ReadRegularFile(dir_.string(), 100));  // a folder

    fs::create_symlink(dir_ / "plain", dir_ / "link");
    EXPECT_FALSE(ReadRegularFile((dir_ / "link").string(), 100));

    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadRegularFile((dir_ / "fifo").string(), 100));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(SafeFiles, ReplaceNeverWritesThroughALink) {
    std::ofstream(dir_ / "victim") << "precious";
    fs::create_symlink(dir_ / "victim", dir_ / "ipinfo.tmp");
    ASSERT_TRUE(ReplaceFile(dir_.string(), "ipinfo.tmp", "10.0.0.7\n"));
    EXPECT_EQ(Slurp(dir_ / "victim"), "precious");
    EXPECT_FALSE(fs::is_symlink(dir_ / "ipinfo.tmp"));
    EXPECT_EQ(Slurp(dir_ / "ipinfo.tmp"), "10.0.0.7\n");
    // Replaced again, with nothing of the writing left behind.
    ASSERT_TRUE(ReplaceFile(dir_.string(), "ipinfo.tmp", "0.0.0.0\n", 0600));
    EXPECT_EQ(Slurp(dir_ / "ipinfo.tmp"), "0.0.0.0\n");
    EXPECT_EQ(fs::status(dir_ / "ipinfo.tmp").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
    EXPECT_FALSE(ReplaceFile((dir_ / "no-such-folder").string(), "x", "y"));
}

TEST_F(SafeFiles, PrivateDirectories) {
    EXPECT_TRUE(EnsurePrivateDirectory((dir_ / "mine").string()));
    EXPECT_TRUE(EnsurePrivateDirectory((dir_ / "mine").string()));
    fs::create_directories(dir_ / "open");
    fs::permissions(dir_ / "open", fs::perms::all);
    EXPECT_FALSE(EnsurePrivateDirectory((dir_ / "open").string()));
    fs::create_directory_symlink(dir_ / "mine", dir_ / "link");
    EXPECT_FALSE(EnsurePrivateDirectory((dir_ / "link").string()));
}

TEST_F(SafeFiles, ProblemsGoToTheJournalAndTheLogFile) {
    // A stand-in for the journal's socket.
    const fs::path socketPath = dir_ / "journal";
    const int journal = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(journal, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const ProblemLogTargets targets{socketPath.string(), (dir_ / "state/kbr3300/log").string()};
    EXPECT_TRUE(LogProblemTo(targets, "nwinf", "renewal failed: no rights\nsecond line"));
    EXPECT_TRUE(LogProblemTo(targets, "ipconfig", "again"));

    char datagram[4096] = {};
    const ssize_t n = ::recv(journal, datagram, sizeof datagram - 1, MSG_DONTWAIT);
    ::close(journal);
    ASSERT_GT(n, 0);
    EXPECT_STREQ(datagram, "PRIORITY=4\nSYSLOG_IDENTIFIER=nwinf\nMESSAGE=renewal failed: no rights second line\n");

    const std::string log = Slurp(dir_ / "state/kbr3300/log");
    EXPECT_NE(log.find(" nwinf: renewal failed: no rights second line\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" ipconfig: again\n"), std::string::npos) << log;
    EXPECT_EQ(fs::status(dir_ / "state/kbr3300").permissions() & fs::perms::all, fs::perms::owner_all);

    // A link planted as the log file is not written through.
    std::ofstream(dir_ / "victim") << "precious";
    fs::remove(dir_ / "state/kbr3300/log");
    fs::create_symlink(dir_ / "victim", dir_ / "state/kbr3300/log");
    EXPECT_FALSE(LogProblemTo({"", (dir_ / "state/kbr3300/log").string()}, "nwinf", "x"));
    EXPECT_EQ(Slurp(dir_ / "victim"), "precious");
    EXPECT_FALSE(LogProblemTo({}, "nwinf", "nowhere"));
}

}  // namespace
}  // namespace kbr::platform
