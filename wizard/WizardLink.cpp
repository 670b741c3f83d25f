#include "wizard/WizardLink.h"

#include "platform/Socket.h"
#include "wizard/WizardTrace.h"

#include <cerrno>
#include <string>
#include <utility>

namespace kbr::wizard {

namespace {
// Errors with which making a socket fails; a failed connect reports others.
bool IsSocketCreationError(int error) {
    switch (error) {
        case EMFILE:
        case ENFILE:
        case EAFNOSUPPORT:
        case EPROTONOSUPPORT:
        case ENOBUFS:
        case ENOMEM: return true;
        default: return false;
    }
}
}  // namespace

WizardLink::WizardLink(std::string address, std::string port, TraceFunction trace)
    : address_(std::move(address)), port_(std::move(port)), trace_(std::move(trace)) {
    if (!trace_) {
        trace_ = [](std::string_view line) { Trace(line); };
    }
}

WizardLink::~WizardLink() { link_.Stop(); }

bool WizardLink::Open() {
    if (link_.IsOpen()) {
        trace_("IsOpen()");
        return false;
    }
    platform::SetLastSocketError(0);
    if (link_.Open(address_, port_, SOCK_STREAM)) {
        return true;
    }
    const int error = platform::LastSocketError();
    if (IsSocketCreationError(error)) {
        trace_("sockNew = INVALID_SOCKET");
        trace_("WSAGetLastError = " + std::to_string(error));
    } else {
        trace_("SOCKET_ERROR");
    }
    return false;
}

void WizardLink::Close() {
    // Stop closes an open connection and pauses briefly afterwards; the wizard never starts the
    // receive thread, so there is nothing else to wait for.
    link_.Stop();
}

}  // namespace kbr::wizard
