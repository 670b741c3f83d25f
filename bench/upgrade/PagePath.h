#pragma once
// The page program's way of running the upgrade, reduced to what the transport costs: the main
// window's link posts a copy of every read as a WM_DEVICE_REPLY event (shell/DeviceEvents.h) to
// the window thread, whose Qt event loop hands it to the active operation; OPERATION_TIMER is a
// precise QTimer restarted by every step; requests go out on the same link. What is left out is
// the part that does not touch the transport: the page, and the progress bar's painting.

#include <cstdint>
#include <memory>
#include <string>

namespace kbr::bench {

class PagePath {
public:
    PagePath();
    ~PagePath();
    PagePath(const PagePath&) = delete;
    PagePath& operator=(const PagePath&) = delete;

    [[nodiscard]] bool Connect(uint16_t port);
    // Runs function 8 on the image to its end inside the event loop; true when it completed 0.
    bool Upgrade(const std::string& image);

private:
    struct Window;
    std::unique_ptr<Window> window_;
};

}  // namespace kbr::bench
