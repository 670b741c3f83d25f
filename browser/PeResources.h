#pragma once
// Reads the resource directory of a PE file (a Windows DLL such as the page library PgPack.dll)
// without loading it: every offset and size is checked against the file before it is used, so a
// damaged or hostile file is reported as an error, never read past its end. No Qt.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kbr {

constexpr uint32_t RT_HTML_TYPE = 23;

struct PeResource {
    std::string name;       // the stored name (UTF-8; the resource compiler stores capitals)
    uint16_t language = 0;  // language id of the first language entry
    size_t offset = 0;      // where the bytes are in the file
    size_t size = 0;
};

class PeResourceReader {
public:
    // Longest resource name read, in UTF-16 units: resource names are short identifiers.
    static constexpr size_t MAX_NAME_UNITS = 255;

    // Collects the named resources of one type (first language of each). False, with Error(),
    // when the file is not a PE file or its resource directory is damaged or asks for more work
    // than its size accounts for (at most 65536 directory entries, names of at most
    // MAX_NAME_UNITS units and, all together, no larger than the file). Never throws.
    [[nodiscard]] bool Parse(std::span<const uint8_t> file, uint32_t type = RT_HTML_TYPE);

    const std::vector<PeResource>& Resources() const { return resources_; }
    // Name compared without regard to ASCII letter case.
    const PeResource* Find(std::string_view name) const;
    const std::string& Error() const { return error_; }

private:
    bool Walk(std::span<const uint8_t> file, uint32_t type);
    bool Fail(std::string message);

    std::vector<PeResource> resources_;
    std::string error_;
};

// ASCII case-insensitive equality of two names.
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);

}  // namespace kbr
