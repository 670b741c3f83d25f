#pragma once
// The product's one icon and its place on the desktop, shared by the configuration program and
// the wizard: the desktop entry's icon from the theme, with the same picture built in for desktops
// that have not installed it, and the names through which docks and task bars tie the windows to
// the desktop entry.

#include <QIcon>

namespace kbr {

QIcon ProductIcon();

// Gives the application the icon, the desktop entry's name (Wayland's app id) and the window
// class that the desktop entry's StartupWMClass names (X11). Call right after the application
// object is made.
void ApplyDesktopIdentity();

}  // namespace kbr
