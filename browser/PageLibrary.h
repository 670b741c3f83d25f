#pragma once
// The page library PgPack.dll: where it is found and what it holds. No Qt.
//
// Where: a file named "PgPack.dll" (any letter case, as on Windows) in the current directory
// first, then in the installation's data directory (KBR_PAGE_DATADIR, e.g.
// /usr/share/kbr3300), which stands in for the Windows system directory.

#include "browser/PeResources.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kbr {

inline constexpr const char* PAGE_LIBRARY_NAME = "PgPack.dll";

// The installation's data directory searched after the current directory.
std::filesystem::path PageLibraryDataDirectory();
// A file named `name` in `directory`, compared without regard to ASCII case.
std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& directory,
                                                          std::string_view name);
// The current directory first, then the data directory; nothing when neither has the file.
std::optional<std::filesystem::path> FindPageLibrary();

class PageLibrary {
public:
    // Largest library read into memory.
    static constexpr uintmax_t MAX_FILE_SIZE = 64u * 1024 * 1024;

    // Reads and indexes the file. False, with Error(), when it cannot be read or is damaged.
    // Never throws.
    [[nodiscard]] bool Load(const std::filesystem::path& path);
    bool Loaded() const { return loaded_; }
    const std::filesystem::path& Path() const { return path_; }
    const std::string& Error() const { return error_; }

    // The bytes of a page by file name (case-insensitive; leading slashes are ignored, so
    // "//Index.html" and "index.html" are the same page).
    std::optional<std::span<const uint8_t>> Find(std::string_view name) const;
    std::vector<std::string> Names() const;

private:
    bool Read(const std::filesystem::path& path);

    std::filesystem::path path_;
    std::vector<uint8_t> bytes_;
    PeResourceReader reader_;
    bool loaded_ = false;
    std::string error_;
};

// MIME type served for a page name, by the extension of its last path element; a name without an
// extension is a data script (text/javascript); an unknown extension is application/octet-stream.
std::string MimeTypeForName(std::string_view name);

}  // namespace kbr
