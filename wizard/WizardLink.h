#pragma once
// The wizard's connection probe: the project's DeviceLink, opened and closed only, with the
// wizard's trace lines on a failed open.

#include "link/DeviceLink.h"
#include "wizard/WizardServices.h"

#include <functional>
#include <string>
#include <string_view>

namespace kbr::wizard {

class WizardLink : public ProbeLink {
public:
    using TraceFunction = std::function<void(std::string_view)>;

    // `trace` receives the trace lines ("IsOpen()", "sockNew = INVALID_SOCKET",
    // "WSAGetLastError = N", "SOCKET_ERROR"); by default they go to standard error.
    WizardLink(std::string address, std::string port, TraceFunction trace = {});
    ~WizardLink() override;

    [[nodiscard]] bool Open() override;
    void Close() override;

private:
    std::string address_;
    std::string port_;
    TraceFunction trace_;
    DeviceLink link_;
};

}  // namespace kbr::wizard
