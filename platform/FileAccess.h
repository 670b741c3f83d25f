#pragma once
// Inside platform/ only: the four file calls ReadWholeFile needs, one implementation per system
// (POSIX open/read on Linux, the C runtime's _open/_read on Windows); Descriptor.h owns what they
// open. Errors are errno values.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Descriptor.h"

namespace kbr::platform::file {

// A descriptor for reading, or -1 (errno says why). Never waits (a pipe with no writer opens at
// once) and is not inherited by programs this one starts.
int OpenForReading(const std::string& path);
// 0 for a regular file (with its size); EISDIR for a folder; ESPIPE for anything else; or the
// errno of the failed query.
int RegularFileSize(int fd, uint64_t& size);
// One read: the count, 0 at the end, -1 on error (errno; EINTR is retried by the caller).
long ReadSome(int fd, void* buffer, size_t size);
// (Close, the fourth, is declared with the descriptor owner in Descriptor.h.)

}  // namespace kbr::platform::file
