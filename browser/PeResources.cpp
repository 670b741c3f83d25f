#include "browser/PeResources.h"

#include "browser/Utf8.h"
#include "link/ByteReader.h"

#include <algorithm>
#include <array>
#include <exception>

namespace kbr {
namespace {

// PE files are little-endian; the shared reader only knows big-endian words, so whole fields are
// taken as checked byte views and assembled here.
[[nodiscard]] bool ReadU16LE(ByteReader& r, uint16_t& out) {
    std::span<const uint8_t> b;
    if (!r.ReadBytes(2, b)) return false;
    out = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

[[nodiscard]] bool ReadU32LE(ByteReader& r, uint32_t& out) {
    std::span<const uint8_t> b;
    if (!r.ReadBytes(4, b)) return false;
    out = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
    return true;
}

struct Section {
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
};

struct DirEntry {
    bool isName = false;
    uint32_t nameOrId = 0;  // id, or offset of the name string within the resource area
    bool isDirectory = false;
    uint32_t target = 0;  // offset within the resource area
};

constexpr size_t MAX_SECTIONS = 96;      // the PE format's own limit
constexpr size_t MAX_ENTRIES = 1 << 16;  // budget over the whole walk: no fan-out blow-up
constexpr uint32_t HIGH_BIT = 0x80000000u;

// File offset and the number of raw bytes available from a relative virtual address.
std::optional<std::pair<size_t, size_t>> MapRva(const std::vector<Section>& sections, uint32_t rva, size_t fileSize) {
    for (const Section& s : sections) {
        if (rva < s.virtualAddress) continue;
        uint64_t delta = uint64_t{rva} - s.virtualAddress;
        if (delta >= s.rawSize) continue;
        uint64_t offset = uint64_t{s.rawOffset} + delta;
        if (offset >= fileSize) return std::nullopt;
        uint64_t available = std::min<uint64_t>(s.rawSize - delta, fileSize - offset);
        return std::make_pair(static_cast<size_t>(offset), static_cast<size_t>(available));
    }
    return std::nullopt;
}

std::string Utf16ToUtf8(std::span<const uint16_t> units) {
    std::string out;
    out.reserve(units.size() * 3);
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;  // lone surrogate
        }
        AppendUtf8(out, u);
    }
    return out;
}

}  // namespace

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

bool PeResourceReader::Fail(std::string message) {
    error_ = std::move(message);
    resources_.clear();
    return false;
}

const PeResource* PeResourceReader::Find(std::string_view name) const {
    for (const PeResource& res : resources_) {
        if (NamesEqualIgnoringCase(res.name, name)) return &res;
    }
    return nullptr;
}

bool PeResourceReader::Parse(std::span<const uint8_t> file, uint32_t type) {
    // The walk is bounded, so this is only a last line: whatever a file holds, the caller gets an
    // answer, never an exception.
    try {
        return Walk(file, type);
    } catch (const std::exception&) {
        resources_.clear();
        resources_.shrink_to_fit();
        error_ = "out of memory";
        return false;
    }
}

bool PeResourceReader::Walk(std::span<const uint8_t> file, uint32_t type) {
    resources_.clear();
    error_.clear();
    ByteReader r(file);

    std::span<const uint8_t> magic;
    if (!r.ReadBytes(2, magic) || magic[0] != 'M' || magic[1] != 'Z') return Fail("not a PE file: no MZ header");
    uint32_t peOffset = 0;
    if (!r.Seek(0x3C) || !ReadU32LE(r, peOffset) || !r.Seek(peOffset) || !r.ReadBytes(4, magic) || magic[0] != 'P' ||
        magic[1] != 'E' || magic[2] != 0 || magic[3] != 0) {
        return Fail("not a PE file: no PE signature");
    }
    uint16_t sectionCount = 0, optionalSize = 0, optionalMagic = 0;
    if (!r.Skip(2) || !ReadU16LE(r, sectionCount) || !r.Skip(12) || !ReadU16LE(r, optionalSize) || !r.Skip(2)) {
        return Fail("truncated COFF header: " + r.Error());
    }
    const size_t optionalStart = r.Offset();
    if (!ReadU16LE(r, optionalMagic)) return Fail("truncated optional header");
    size_t countAt = 0, directoriesAt = 0;
    if (optionalMagic == 0x10B) {
        countAt = 92;
        directoriesAt = 96;
    } else if (optionalMagic == 0x20B) {
        countAt = 108;
        directoriesAt = 112;
    } else {
        return Fail("unknown optional header magic " + std::to_string(optionalMagic));
    }
    uint32_t directoryCount = 0, resourceRva = 0, resourceSize = 0;
    const size_t resourceDirAt = directoriesAt + 2 * 8;
    if (optionalSize < resourceDirAt + 8) return Fail("optional header too small for a resource directory");
    if (!r.Seek(optionalStart + countAt) || !ReadU32LE(r, directoryCount)) return Fail("truncated optional header");
    if (directoryCount < 3) return true;  // no resource directory: no resources
    if (!r.Seek(optionalStart + resourceDirAt) || !ReadU32LE(r, resourceRva) || !ReadU32LE(r, resourceSize)) {
        return Fail("truncated data directories");
    }
    if (resourceRva == 0 || resourceSize == 0) return true;

    if (sectionCount > MAX_SECTIONS) return Fail("too many sections: " + std::to_string(sectionCount));
    std::vector<Section> sections(sectionCount);
    if (!r.Seek(optionalStart + optionalSize)) return Fail("section table past the end of the file");
    for (Section& s : sections) {
        if (!r.Skip(8) || !ReadU32LE(r, s.virtualSize) || !ReadU32LE(r, s.virtualAddress) || !ReadU32LE(r, s.rawSize) ||
            !ReadU32LE(r, s.rawOffset) || !r.Skip(16)) {
            return Fail("truncated section table");
        }
    }

    auto area = MapRva(sections, resourceRva, file.size());
    if (!area) return Fail("resource directory is outside every section");
    const std::span<const uint8_t> rsrc = file.subspan(area->first, std::min<size_t>(area->second, resourceSize));
    ByteReader rr(rsrc);
    size_t budget = MAX_ENTRIES;
    // Name bytes (length words and UTF-16 units) decoded over the walk. Each name of a real library
    // is stored once, so all of them take less room than the file; many entries that point at the
    // same long string are what this stops.
    size_t nameBudget = file.size();

    auto readDirectory = [&](uint32_t offset, std::vector<DirEntry>& out) -> bool {
        uint16_t named = 0, ids = 0;
        if (!rr.Seek(offset) || !rr.Skip(12) || !ReadU16LE(rr, named) || !ReadU16LE(rr, ids)) return false;
        size_t count = size_t{named} + ids;
        if (count > budget) return rr.Fail("too many resource entries");
        if (count * 8 > rr.Remaining()) return rr.Fail("resource directory entries past the end of the area");
        budget -= count;
        out.resize(count);
        for (DirEntry& e : out) {
            uint32_t name = 0, target = 0;
            if (!ReadU32LE(rr, name) || !ReadU32LE(rr, target)) return false;
            e.isName = (name & HIGH_BIT) != 0;
            e.nameOrId = name & ~HIGH_BIT;
            e.isDirectory = (target & HIGH_BIT) != 0;
            e.target = target & ~HIGH_BIT;
        }
        return true;
    };

    std::vector<DirEntry> types;
    if (!readDirectory(0, types)) return Fail("damaged resource directory: " + rr.Error());
    for (const DirEntry& typeEntry : types) {
        if (typeEntry.isName || typeEntry.nameOrId != type || !typeEntry.isDirectory) continue;
        std::vector<DirEntry> names;
        if (!readDirectory(typeEntry.target, names)) return Fail("damaged resource name directory: " + rr.Error());
        for (const DirEntry& nameEntry : names) {
            if (!nameEntry.isName) continue;  // numbered resources have no name to serve them by
            PeResource res;
            uint16_t length = 0;
            if (!rr.Seek(nameEntry.nameOrId) || !ReadU16LE(rr, length))
                return Fail("damaged resource name: " + rr.Error());
            if (length > MAX_NAME_UNITS) {
                return Fail("resource name of " + std::to_string(length) + " units (at most " +
                            std::to_string(MAX_NAME_UNITS) + ")");
            }
            const size_t nameBytes = 2 + size_t{length} * 2;
            if (nameBytes > nameBudget) return Fail("resource names take more room than the file holds");
            nameBudget -= nameBytes;
            std::array<uint16_t, MAX_NAME_UNITS> units;
            for (uint16_t i = 0; i < length; ++i) {
                if (!ReadU16LE(rr, units[i])) return Fail("resource name past the end of the area");
            }
            res.name = Utf16ToUtf8(std::span<const uint16_t>(units.data(), length));

            // One more level: languages. The first language entry is the one served.
            uint32_t dataEntryOffset = nameEntry.target;
            if (nameEntry.isDirectory) {
                std::vector<DirEntry> languages;
                if (!readDirectory(nameEntry.target, languages))
                    return Fail("damaged language directory: " + rr.Error());
                auto first =
                    std::find_if(languages.begin(), languages.end(), [](const DirEntry& e) { return !e.isDirectory; });
                if (first == languages.end()) continue;
                res.language = static_cast<uint16_t>(first->nameOrId);
                dataEntryOffset = first->target;
            }
            uint32_t dataRva = 0, dataSize = 0;
            if (!rr.Seek(dataEntryOffset) || !ReadU32LE(rr, dataRva) || !ReadU32LE(rr, dataSize)) {
                return Fail("damaged resource data entry: " + rr.Error());
            }
            auto data = dataSize == 0 ? std::optional<std::pair<size_t, size_t>>(std::make_pair(size_t{0}, size_t{0}))
                                      : MapRva(sections, dataRva, file.size());
            if (!data || data->second < dataSize) {
                return Fail("resource " + res.name + " lies outside the file (" + std::to_string(dataSize) + " bytes)");
            }
            res.offset = data->first;
            res.size = dataSize;
            resources_.push_back(std::move(res));
        }
    }
    return true;
}

}  // namespace kbr
