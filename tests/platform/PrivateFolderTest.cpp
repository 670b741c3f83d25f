// The private folder that holds the renewal's record: what is accepted as the folder, what is
// tightened, what is refused, and that files in it are never reached through a planted link or
// waited on as a FIFO. A temporary folder of ours stands in for the parent, so no root is needed.

#include "platform/PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace kbr::platform {
namespace {

namespace fs = std::filesystem;

constexpr uid_t NOBODY = 65534;

class PrivateFolders : public ::testing::Test {
protected:
    void SetUp() override {
        parent_ = fs::temp_directory_path() / ("kbr-private-" + std::to_string(::getpid()));
        fs::remove_all(parent_);
        fs::create_directories(parent_);
        fs::permissions(parent_, fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(parent_); }
    PrivateFolder OpenIt(std::string* why = nullptr) {
        return PrivateFolder::Open(parent_.string(), PrivateFolder::Parent::Private, "kbr3300", why);
    }
    static unsigned Mode(const fs::path& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }
    static std::string Slurp(const fs::path& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path parent_;
};

TEST_F(PrivateFolders, MadePrivateOrTightenedWhenOurs) {
    PrivateFolder made = OpenIt();
    ASSERT_TRUE(made.Valid());
    EXPECT_EQ(made.Path(), (parent_ / "kbr3300").string());
    EXPECT_EQ(Mode(parent_ / "kbr3300"), 0700u);

    // An older launcher's `mkdir -p` left it open to others: ours, so made private.
    fs::permissions(parent_ / "kbr3300", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                             fs::perms::others_read | fs::perms::others_exec);
    EXPECT_TRUE(OpenIt().Valid());
    EXPECT_EQ(Mode(parent_ / "kbr3300"), 0700u);
}

struct Refusal {
    const char* what;
    std::function<void(const fs::path& parent)> plant;
    bool needsRoot;
};

class PrivateFolderRefusals : public PrivateFolders, public ::testing::WithParamInterface<Refusal> {};

TEST_P(PrivateFolderRefusals, NothingIsUsedOrChanged) {
    if (GetParam().needsRoot && ::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
    fs::create_directories(parent_ / "elsewhere");
    GetParam().plant(parent_);
    std::string why;
    const PrivateFolder folder = OpenIt(&why);
    EXPECT_FALSE(folder.Valid());
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(fs::is_empty(parent_ / "elsewhere")) << "nothing made where a link leads";
}

INSTANTIATE_TEST_SUITE_P(
    PlantedNames, PrivateFolderRefusals,
    ::testing::Values(
        Refusal{"SymlinkToAFolder",
                [](const fs::path& p) { fs::create_directory_symlink(p / "elsewhere", p / "kbr3300"); }, false},
        Refusal{"FileInstead", [](const fs::path& p) { std::ofstream(p / "kbr3300") << "x"; }, false},
        Refusal{"ParentOpenToOthers",
                [](const fs::path& p) { fs::permissions(p, fs::perms::others_read, fs::perm_options::add); }, false},
        Refusal{"AnotherUsersFolder",
                [](const fs::path& p) {
                    fs::create_directory(p / "kbr3300");
                    ASSERT_EQ(::chown((p / "kbr3300").c_str(), NOBODY, NOBODY), 0);
                },
                true}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.what); });

TEST_F(PrivateFolders, APlantedLinkIsReplacedNotFollowed) {
    const PrivateFolder folder = OpenIt();
    ASSERT_TRUE(folder.Valid());
    std::ofstream(parent_ / "target") << "keep";
    fs::create_symlink(parent_ / "target", parent_ / "kbr3300" / "record");
    EXPECT_EQ(folder.Read("record", 100), std::nullopt) << "a link is not read through";

    ASSERT_TRUE(folder.Replace("record", "new"));
    EXPECT_EQ(Slurp(parent_ / "target"), "keep");
    EXPECT_FALSE(fs::is_symlink(parent_ / "kbr3300" / "record"));
    EXPECT_EQ(folder.Read("record", 100), "new");
    EXPECT_EQ(Mode(parent_ / "kbr3300" / "record"), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(parent_ / "kbr3300"), {}), 1) << "no temporary file left";

    EXPECT_TRUE(folder.Remove("record"));
    EXPECT_TRUE(folder.Remove("record")) << "gone already is fine";
    bool missing = false;
    EXPECT_EQ(folder.Read("record", 100, &missing), std::nullopt);
    EXPECT_TRUE(missing);
    EXPECT_TRUE(fs::exists(parent_ / "target"));
}

TEST_F(PrivateFolders, ReadsAreBoundedAndNeverWaitOnAFifo) {
    const PrivateFolder folder = OpenIt();
    ASSERT_TRUE(folder.Valid());
    ASSERT_TRUE(folder.Replace("record", "0123456789"));
    EXPECT_EQ(folder.Read("record", 4), "0123");
    ASSERT_EQ(::mkfifo((parent_ / "kbr3300" / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(folder.Read("fifo", 100), std::nullopt);
    EXPECT_FALSE(folder.OpenLockFile("fifo").Valid());
    EXPECT_EQ(folder.Read("../x", 100), std::nullopt) << "only names inside the folder";
}

TEST_F(PrivateFolders, AnotherUsersFileIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
    const PrivateFolder folder = OpenIt();
    ASSERT_TRUE(folder.Valid());
    ASSERT_TRUE(folder.Replace("record", "theirs"));
    ASSERT_EQ(::chown((parent_ / "kbr3300" / "record").c_str(), NOBODY, NOBODY), 0);
    EXPECT_EQ(folder.Read("record", 100), std::nullopt);
    std::ofstream(parent_ / "kbr3300" / "lock").close();
    ASSERT_EQ(::chown((parent_ / "kbr3300" / "lock").c_str(), NOBODY, NOBODY), 0);
    EXPECT_FALSE(folder.OpenLockFile("lock").Valid());
    EXPECT_TRUE(folder.OpenLockFile("own.lock").Valid());
}

TEST(PrivateFolderPlace, RootIgnoresTheEnvironmentAndUsersNeedTheirOwnRuntimeFolder) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string old = saved ? saved : "";
    const fs::path planted = fs::temp_directory_path() / ("kbr-runtime-" + std::to_string(::getpid()));
    fs::create_directories(planted);
    ::setenv("XDG_RUNTIME_DIR", planted.c_str(), 1);
    const bool hadRootFolder = fs::exists("/run/kbr3300");
    std::string why;
    const PrivateFolder folder = PrivateFolder::ForThisUser(&why);
    if (::geteuid() == 0) {
        EXPECT_TRUE(folder.Valid()) << why;
        EXPECT_EQ(folder.Path(), "/run/kbr3300");
        EXPECT_FALSE(fs::exists(planted / "kbr3300")) << "root never works in the environment's folder";
        if (!hadRootFolder) fs::remove("/run/kbr3300");
    } else {
        // Made by us, but 0755 (the temporary folder's default): not a runtime folder to trust.
        fs::permissions(planted, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        EXPECT_FALSE(PrivateFolder::ForThisUser(&why).Valid());
    }
    ::unsetenv("XDG_RUNTIME_DIR");
    if (::geteuid() != 0) {
        EXPECT_FALSE(PrivateFolder::ForThisUser(&why).Valid()) << "no fallback in /tmp";
    }
    if (saved) ::setenv("XDG_RUNTIME_DIR", old.c_str(), 1);
    fs::remove_all(planted);
}

}  // namespace
}  // namespace kbr::platform
