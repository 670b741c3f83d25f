#pragma once
// The simulator's memory across restarts: a small text file of "key=value" lines. Values are
// written with bytes outside printable ASCII (and '%', '=' and space) as %XX, so any text a client
// stores comes back unchanged. The file is replaced atomically (temporary file, fsync, rename),
// so a crash never leaves half a file behind, and the folder may be shared with others: nothing
// they plant there is written through.

#include <cstddef>
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbr::devsim {

using StateValues = std::map<std::string, std::string>;

std::string EscapeStateValue(std::string_view raw);
std::optional<std::string> UnescapeStateValue(std::string_view escaped);

// Largest state file read: a few short lines are all the simulator ever writes.
inline constexpr size_t MAX_STATE_FILE_SIZE = 64 * 1024;

// Parses the text of a state file (`name` is used in errors): nothing, and an error naming the
// line, for a malformed line.
std::optional<StateValues> ParseStateText(std::string_view text, const std::string& name, std::string* error);
// Reads the file. A missing file gives an empty map (a device that never stored anything); an
// unreadable file, one that is not a regular file or larger than MAX_STATE_FILE_SIZE, or a
// malformed line gives nothing and an error.
std::optional<StateValues> ReadStateFile(const std::string& path, std::string* error);
// The text of a state file holding these values, which ParseStateText reads back.
std::string StateText(const std::vector<std::pair<std::string, std::string>>& values);
[[nodiscard]] bool WriteStateFile(const std::string& path,
                                  const std::vector<std::pair<std::string, std::string>>& values, std::string* error);

// Writes bytes to path atomically (platform::ReplaceFile: a new file of its own beside it, created
// exclusively and never through a link, with `mode`, flushed, then renamed over path). A link
// planted at path is replaced, never followed.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                                       std::string* error);

}  // namespace kbr::devsim
