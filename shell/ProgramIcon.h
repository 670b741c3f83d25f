#pragma once
#include <QIcon>

namespace kbr {
// The program's icon (the window's large and small icon and the task bar's), drawn at the usual
// sizes.
QIcon ProgramIcon();
}  // namespace kbr
