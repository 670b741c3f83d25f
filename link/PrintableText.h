#pragma once
// Text that came from the other end of a connection (a device, a client), made safe to print on
// a terminal or in a log line. No Qt.

#include <string>
#include <string_view>

namespace kbr {

// Every byte outside printable ASCII (control characters, DEL, bytes from 0x80 on, which some
// terminals take as controls too) as \xNN, and a backslash or quote as \\, \' or \", so the text
// can neither drive the terminal nor pass for something else. At most `limit` bytes of the text
// are shown, followed by "..." when there was more.
std::string PrintableText(std::string_view text, size_t limit = std::string_view::npos);

}  // namespace kbr
