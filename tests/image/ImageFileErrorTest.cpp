#include <gtest/gtest.h>

#include <ostream>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "link/UpgradeImage.h"
#include "tests/image/FileErrorSupport.h"

namespace kbr {
namespace {

using test::Messages;
using test::MessagesOfLoad;
using test::ProvokedFileErrors;

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
    testing::Values(
        ErrnoCase{0, FileErrorCause::Unspecified, "An unspecified error occurred."},
        ErrnoCase{ENOENT, FileErrorCause::NotFound, "The file could not be located."},
        ErrnoCase{ENOTDIR, FileErrorCause::BadPath, "All or part of the path is invalid."},
        ErrnoCase{ENAMETOOLONG, FileErrorCause::BadPath, "All or part of the path is invalid."},
        ErrnoCase{ELOOP, FileErrorCause::BadPath, "All or part of the path is invalid."},
        ErrnoCase{EMFILE, FileErrorCause::TooManyOpenFiles, "The permitted number of open files was exceeded."},
        ErrnoCase{ENFILE, FileErrorCause::TooManyOpenFiles, "The permitted number of open files was exceeded."},
        ErrnoCase{EACCES, FileErrorCause::AccessDenied, "The file could not be accessed."},
        ErrnoCase{EPERM, FileErrorCause::AccessDenied, "The file could not be accessed."},
        ErrnoCase{EISDIR, FileErrorCause::AccessDenied, "The file could not be accessed."},
        ErrnoCase{EBADF, FileErrorCause::InvalidHandle, "There was an attempt to use an invalid file handle."},
        ErrnoCase{ESPIPE, FileErrorCause::BadSeek, "There was an error trying to set the file pointer."},
        ErrnoCase{EIO, FileErrorCause::HardwareError, "There was a hardware error."},
        ErrnoCase{ETXTBSY, FileErrorCause::SharingViolation, "Sharing Violation."},
        ErrnoCase{EBUSY, FileErrorCause::SharingViolation, "Sharing Violation."},
        ErrnoCase{ENOMEM, FileErrorCause::Other, "File Open Error."},
        ErrnoCase{EINVAL, FileErrorCause::Other, "File Open Error."},
        ErrnoCase{EOVERFLOW, FileErrorCause::Other, "File Open Error."}),
    [](const testing::TestParamInfo<ErrnoCase>& info) { return "errno" + std::to_string(info.param.error); });

// ---- causes provoked on a real file system (those of every system; the POSIX ones beside) ------

TEST_F(ProvokedFileErrors, MissingFilesAreNotFound) {
    EXPECT_EQ(MessagesOfLoad(dir_.File("absent.bin")), Messages{"The file could not be located."});
    EXPECT_EQ(MessagesOfLoad(dir_.File("absent/image.bin")), Messages{"The file could not be located."});
    EXPECT_EQ(MessagesOfLoad(""), Messages{"The file could not be located."});
}

TEST_F(ProvokedFileErrors, AFolderCannotBeAccessedAsAFile) {
    EXPECT_EQ(MessagesOfLoad(dir_.Path()), Messages{"The file could not be accessed."});
}

TEST_F(ProvokedFileErrors, NoSinkIsFine) {
    EXPECT_FALSE(LoadImageSection(dir_.File("absent.bin"), 1, {}));
    EXPECT_FALSE(LoadImageSection(dir_.File("absent.bin"), 1, nullptr));
}

}  // namespace
}  // namespace kbr
