#include "platform/ProcessHandle.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace kbr::platform {

ProcessHandle ProcessHandle::Open(int64_t pid) {
    ProcessHandle handle;
    if (pid <= 0) return handle;
#ifdef SYS_pidfd_open
    handle.fd_ = Descriptor(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)));
    if (handle.fd_.Valid()) handle.pid_ = pid;
#endif
    return handle;
}

bool ProcessHandle::Alive() const { return Signal(0); }

bool ProcessHandle::Signal(int signal) const {
#ifdef SYS_pidfd_send_signal
    return Valid() && ::syscall(SYS_pidfd_send_signal, fd_.Get(), signal, nullptr, 0) == 0;
#else
    (void)signal;
    return false;
#endif
}

bool ProcessHandle::WaitEnded(std::chrono::milliseconds limit) const {
    if (!Valid()) return true;
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        // A pidfd becomes readable when its process ends.
        pollfd entry{fd_.Get(), POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return !Alive();
    }
}

}  // namespace kbr::platform
