#include "netcheck/RefreshWorker.h"

#include <system_error>

#include "link/DeviceLink.h"
#include "netcheck/IpHelper.h"

namespace kbr {

RefreshWorker::RefreshWorker(std::shared_ptr<RefreshFlags> flags, RefreshSettings settings)
    : flags_(std::move(flags)), settings_(std::move(settings)) {}

RefreshWorker::~RefreshWorker() {
    if (!thread_.joinable()) return;
    if (finished_->load()) {
        thread_.join();  // the work is over; the thread is ending
    } else {
        thread_.detach();
    }
}

bool RefreshWorker::Start() {
    if (thread_.joinable()) return false;
    try {
        thread_ = std::thread([flags = flags_, settings = settings_, finished = finished_] {
            Run(*flags, settings);
            finished->store(true);
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void RefreshWorker::Run(RefreshFlags& flags, const RefreshSettings& settings) {
    for (int run = 0; run < 2; ++run) {
        if (settings.runHelper) {
            settings.runHelper(settings.directory);
        } else {
            RunHelperAndWait(IpHelperProgram(), {QString::fromLatin1(IP_HELPER_REFRESH_ARGUMENT)}, settings.directory);
        }
    }

    // The probe only connects; no data is exchanged.
    DeviceLink link;
    if (link.Open(settings.probeAddress, settings.probePort)) flags.DeviceStillReachable.store(true);
    link.Stop();
    flags.RefreshDone.store(true);
}

}  // namespace kbr
