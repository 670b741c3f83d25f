#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it.
#include <filesystem>
#include <span>
#include <string>
#include <fstream>

#include "platform/Platform.h"

namespace kbr::test {

class TempDir {
public:
    TempDir() { path_ = platform::MakeFreshFolder(std::filesystem::temp_directory_path().string(), "kbr-image-"); }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

    std::string Write(const std::string& name, std::span<const uint8_t> bytes) const {
        std::string path = File(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

private:
    std::filesystem::path path_;
};

}  // namespace kbr::test
