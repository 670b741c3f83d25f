// Feeds any text to the simulator as its state file. Besides the sanitizers' checks: whatever
// it takes, it writes back so that reading that again gives the same device (the same values
// remembered, the same configuration answered).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "devtools/devsim/DeviceModel.h"
#include "devtools/devsim/StateFile.h"

using namespace kbr::devsim;

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

bool SameEntries(const std::vector<kbr::ConfigEntry>& a, const std::vector<kbr::ConfigEntry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].width != b[i].width || a[i].valueA != b[i].valueA ||
            a[i].valueB != b[i].valueB) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto values = ParseStateText(text, "fuzz", &error);
    if (!values) {
        if (error.empty()) Broken("a refused state file without a reason");
        return 0;
    }
    DeviceModel device(DeviceIdentity{}, DeviceSettings{});
    if (!device.TakeState(*values, &error)) return 0;

    const auto remembered = device.RememberedValues();
    const auto again = ParseStateText(StateText(remembered), "again", &error);
    if (!again) Broken("the simulator cannot read the state it wrote");
    for (const auto& [key, value] : remembered) {
        const auto found = again->find(key);
        if (found == again->end() || found->second != value) Broken("a remembered value came back changed");
    }
    DeviceModel restarted(DeviceIdentity{}, DeviceSettings{});
    if (!restarted.TakeState(*again, &error)) Broken("the simulator refuses the state it wrote");
    if (restarted.RememberedValues() != remembered || !SameEntries(restarted.ConfigEntries(), device.ConfigEntries()) ||
        restarted.FirmwareText() != device.FirmwareText() || restarted.VersionBytes() != device.VersionBytes()) {
        Broken("a restart from the written state gives another device");
    }
    return 0;
}
