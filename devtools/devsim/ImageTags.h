#pragma once
// What the simulated device reads from an uploaded image when it installs it: the section CRC and
// the named text tags that follow a section's 16-byte start.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kbr::devsim {

// Text of the tag `name` in a whole section (tags start at offset 16), read as the program reads
// it (FindImageTag); nothing when the section has no such tag or its tag records run past the
// section's end.
std::optional<std::string> FindSectionTag(std::span<const uint8_t> section, std::string_view name);

// A section is intact when it is longer than its 16-byte start and the CRC over the bytes from
// offset 16 to its end (the last four being the stored CRC) is 0.
bool SectionCrcIsGood(std::span<const uint8_t> section);

}  // namespace kbr::devsim
