#include "browser/PageLibrary.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <fstream>
#include <system_error>

#ifndef KBR_PAGE_DATADIR
#define KBR_PAGE_DATADIR "/usr/share/kbr3300"
#endif

namespace kbr {

std::filesystem::path PageLibraryDataDirectory() { return std::filesystem::path(KBR_PAGE_DATADIR); }

std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& directory,
                                                          std::string_view name) {
    std::error_code ec;
    const auto exact = directory / std::string(name);
    if (std::filesystem::is_regular_file(exact, ec)) return exact;
    std::filesystem::directory_iterator it(directory, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (NamesEqualIgnoringCase(it->path().filename().string(), name) && it->is_regular_file(ec)) return it->path();
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> FindPageLibrary() {
    std::error_code ec;
    const auto current = std::filesystem::current_path(ec);
    if (!ec) {
        if (auto found = FindFileIgnoringCase(current, PAGE_LIBRARY_NAME)) return found;
    }
    return FindFileIgnoringCase(PageLibraryDataDirectory(), PAGE_LIBRARY_NAME);
}

bool PageLibrary::Load(const std::filesystem::path& path) {
    try {
        return Read(path);
    } catch (const std::exception&) {
        loaded_ = false;
        bytes_.clear();
        bytes_.shrink_to_fit();
        error_ = "out of memory";
        return false;
    }
}

bool PageLibrary::Read(const std::filesystem::path& path) {
    loaded_ = false;
    path_ = path;
    bytes_.clear();
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        error_ = "cannot read " + path.string() + ": " + ec.message();
        return false;
    }
    if (size > MAX_FILE_SIZE) {
        error_ = path.string() + " is too large (" + std::to_string(size) + " bytes)";
        return false;
    }
    // No more than the size found: a file that grows meanwhile is not read on without end.
    std::ifstream in(path, std::ios::binary);
    bytes_.resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    if (!in) {
        bytes_.clear();
        error_ = "cannot read " + path.string();
        return false;
    }
    if (!reader_.Parse(bytes_)) {
        error_ = path.string() + ": " + reader_.Error();
        return false;
    }
    error_.clear();
    loaded_ = true;
    return true;
}

std::optional<std::span<const uint8_t>> PageLibrary::Find(std::string_view name) const {
    if (!loaded_) return std::nullopt;
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    const PeResource* res = reader_.Find(name);
    if (!res) return std::nullopt;
    return std::span<const uint8_t>(bytes_).subspan(res->offset, res->size);
}

std::vector<std::string> PageLibrary::Names() const {
    std::vector<std::string> names;
    for (const PeResource& res : reader_.Resources()) names.push_back(res.name);
    return names;
}

std::string MimeTypeForName(std::string_view name) {
    // The extension of the last path element only: a dot in a folder name is not an extension.
    const size_t slash = name.find_last_of("/\\");
    const std::string_view file = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const size_t dot = file.rfind('.');
    // The page set's names without an extension ("1", "2", "3", "1D", "1P") are its data scripts,
    // which the pages load with <script src>: they are served as scripts.
    if (dot == std::string_view::npos) return "text/javascript";
    std::string ext(file.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const std::pair<const char*, const char*> MIME_TYPES[] = {
        {"html", "text/html"}, {"htm", "text/html"},         {"js", "text/javascript"}, {"css", "text/css"},
        {"gif", "image/gif"},  {"png", "image/png"},         {"jpg", "image/jpeg"},     {"jpeg", "image/jpeg"},
        {"bmp", "image/bmp"},  {"ico", "image/x-icon"},      {"svg", "image/svg+xml"},  {"txt", "text/plain"},
        {"xml", "text/xml"},   {"json", "application/json"},
    };
    for (const auto& [e, type] : MIME_TYPES) {
        if (ext == e) return type;
    }
    return "application/octet-stream";
}

}  // namespace kbr
