#pragma once
// Small files in folders that others may write to (a run folder, /tmp): read without following a
// planted link or blocking on a FIFO, and replaced without ever writing through a link. No Qt.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// windows.h, where it came first, makes ReplaceFile a macro for a function of its own.
#ifdef ReplaceFile
#undef ReplaceFile
#endif

namespace kbr::platform {

// At most `maxBytes` of the regular file at `path`. Nothing when it is missing or cannot be read,
// when it is not a regular file (a FIFO, a device, a folder), when its last path component is a
// symbolic link (Windows: any reparse point), or (with `ownedByUs`, Linux only) when another user
// owns it. Never blocks on the file.
std::optional<std::string> ReadRegularFile(const std::string& path, size_t maxBytes, bool ownedByUs = false);

// Writes `content` as `directory`/`name`: into a new file of its own in the same folder (created
// exclusively, never through a link), flushed to the disk, then renamed over `name`. A link
// planted as `name` is replaced, not followed, and neither a reader nor a crash ever leaves half a
// file. False on any failure (nothing is left behind then), with what failed in `error` if given.
// This is the one way the programs replace a file. (Windows: `mode` is not used; the file takes the
// folder's permissions.)
[[nodiscard]] bool ReplaceFile(const std::string& directory, const std::string& name, std::string_view content,
                               unsigned mode = 0644, std::string* error = nullptr);

#ifndef _WIN32
// The same, in the folder open as `directory` (a descriptor; `shownDirectory` names it in errors).
[[nodiscard]] bool ReplaceFileAt(int directory, const std::string& shownDirectory, const std::string& name,
                                 std::string_view content, unsigned mode, std::string* error = nullptr);
#endif

// A folder of this user's only (made 0700 when missing). False when it is a link, not a folder,
// another user's, or open to others. (Windows: made when missing; a folder is enough.)
[[nodiscard]] bool EnsurePrivateDirectory(const std::string& path);

}  // namespace kbr::platform
