// Facts of the running system and the file calls: version, error texts, whole-file reads, files
// replaced in one step and read back, fresh folders.
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/ProgramNames.h"
#include "platform/SafeFile.h"
#include "testkit/ScratchFolder.h"

namespace kbr::platform {
namespace {

namespace fs = std::filesystem;

using testkit::ReadFileText;
using testkit::ScratchFolder;

TEST(System, VersionSaysWhichSystemItIs) {
    const SystemVersion version = RunningSystemVersion();
    EXPECT_EQ(version.windows, std::string(EXECUTABLE_SUFFIX) == ".exe");
    if (version.windows) {
        EXPECT_GE(version.major, 5);
    } else {
        EXPECT_EQ(version.major, 0);
    }
}

TEST(System, ErrorTextsOfThePageCallCodes) {
    const std::string text = SystemErrorText(0x80070057u).value_or("");
    if (RunningSystemVersion().windows) {
        // The system's message table, in its own words and language, with its line end.
        EXPECT_GT(text.size(), 2u);
        EXPECT_TRUE(text.ends_with("\r\n")) << text;
    } else {
        EXPECT_EQ(text, "The parameter is incorrect.\r\n") << "kept as Windows words it";
    }
    EXPECT_FALSE(SystemErrorText(0x8badf00du)) << "a code the system has no text for";
}

TEST(Files, WholeFileIsReadWithinItsBound) {
    ScratchFolder folder("kbr-system-");
    const std::string path = folder.File("data.bin");
    std::ofstream(path, std::ios::binary) << std::string("ab\0cd\r\n", 7);
    WholeFile file = ReadWholeFile(path, 100);
    EXPECT_EQ(file.error, 0);
    EXPECT_FALSE(file.tooLarge);
    EXPECT_EQ(std::string(file.bytes.begin(), file.bytes.end()), std::string("ab\0cd\r\n", 7)) << "read as binary";

    file = ReadWholeFile(path, 6);
    EXPECT_TRUE(file.tooLarge);
    EXPECT_TRUE(file.bytes.empty());
    EXPECT_EQ(file.error, 0);

    EXPECT_EQ(ReadWholeFile(folder.File("absent"), 100).error, ENOENT);
    const int folderError = ReadWholeFile(folder.Path(), 100).error;
    EXPECT_TRUE(folderError == EISDIR || folderError == EACCES) << folderError;
}

TEST(Files, ReplaceFileReplacesAnExistingFileWhole) {
    ScratchFolder folder("kbr-system-");
    std::string error;
    ASSERT_TRUE(ReplaceFile(folder.Path(), "state", "first", 0644, &error)) << error;
    ASSERT_TRUE(ReplaceFile(folder.Path(), "state", std::string("second,\0 longer\r\n", 17), 0644, &error)) << error;
    EXPECT_EQ(ReadFileText(folder.File("state")), std::string("second,\0 longer\r\n", 17)) << "written as binary";
    EXPECT_EQ(ReadRegularFile(folder.File("state"), 100), std::string("second,\0 longer\r\n", 17));
    EXPECT_EQ(ReadRegularFile(folder.File("state"), 6), "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1)
        << "nothing of the writing is left behind";

    EXPECT_FALSE(ReplaceFile(folder.File("no-folder"), "state", "x", 0644, &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_NE(error.find("no-folder"), std::string::npos) << error;
    // A folder in the way is not replaced.
    fs::create_directory(folder.File("taken"));
    EXPECT_FALSE(ReplaceFile(folder.Path(), "taken", "x", 0644, &error));
    EXPECT_NE(error.find("cannot replace"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(folder.File("taken")));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 2);

    EXPECT_FALSE(ReadRegularFile(folder.File("absent"), 100));
    EXPECT_FALSE(ReadRegularFile(folder.File("taken"), 100)) << "a folder";
}

TEST(Files, FreshFoldersAreNeverShared) {
    ScratchFolder parent("kbr-system-");
    std::set<std::string> made;
    for (int i = 0; i < 20; ++i) {
        const std::string folder = MakeFreshFolder(parent.Path(), "f-");
        ASSERT_FALSE(folder.empty());
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_TRUE(fs::is_empty(folder));
        EXPECT_TRUE(made.insert(folder).second) << folder;
    }
    EXPECT_TRUE(MakeFreshFolder(parent.File("absent/deeper"), "f-").empty());
}

}  // namespace
}  // namespace kbr::platform
