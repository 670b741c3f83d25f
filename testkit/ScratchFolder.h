#pragma once
// The tests' one shelf of file helpers: a fresh folder of the test's own under the system's
// temporary folder, removed with everything in it (even what was made unreadable), and the whole
// text of a file.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace kbr::testkit {

// The whole content of a file; empty when it cannot be read.
inline std::string ReadFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ScratchFolder {
public:
    explicit ScratchFolder(std::string_view prefix = "kbr-test-")
        : path_(platform::MakeFreshFolder(std::filesystem::temp_directory_path().string(), prefix)) {}
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // False when no folder could be made (the path is then empty).
    bool Made() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

    // Writes the file (replacing one that is there); its path.
    std::string Write(const std::string& name, std::string_view text) const {
        std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        return File(name);
    }
    std::string Write(const std::string& name, std::span<const uint8_t> bytes) const {
        return Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    std::string Read(const std::string& name) const { return ReadFileText(File(name)); }

private:
    std::string path_;
};

}  // namespace kbr::testkit
