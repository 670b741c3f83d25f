#include "wizard/WizardTrace.h"

#include <cstdio>

namespace kbr::wizard {

void Trace(std::string_view line) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    std::fflush(stderr);
}

}  // namespace kbr::wizard
