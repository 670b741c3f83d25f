#pragma once

#include <string_view>

namespace kbr::wizard {

// One debug trace line on standard error.
void Trace(std::string_view line);

}  // namespace kbr::wizard
