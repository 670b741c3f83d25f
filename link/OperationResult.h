#pragma once
// What an operation learned from the device, typed, reported beside the page calls that tell a
// page the same in its own form (texts in arrays). A page window has no use for them; a program
// without pages (kbr3300ctl) reads its values here instead of from the page calls. No Qt.

#include <string>
#include <variant>
#include <vector>

#include "link/PageFunction.h"

namespace kbr {

// The login's answer ("CallbackLogin").
struct LoginAnswered {
    bool accepted = false;
    bool operator==(const LoginAnswered&) const = default;
};

// A device value read by functions 12, 13 and 15 ("CallbackProdID", "CallbackImageVer",
// "CallbackFwVer").
struct ValueRead {
    PageFunction function = PageFunction::FUNC_GET_PRODUCT_ID;
    std::string key;  // "c:prod_id", "a:version"
    std::string value;
    bool operator==(const ValueRead&) const = default;
};

// One accepted configuration read ("storeConfig" calls): the version of the reply and each
// parameter as the page gets it, key first ("1", "0"), then its values as decimal texts.
struct ConfigRead {
    std::string firmwareVersion;
    std::vector<std::vector<std::string>> parameters;
    bool operator==(const ConfigRead&) const = default;
};

// One diagnostics reply ("display_diag").
struct DiagnosticsRead {
    std::string first;
    std::string second;
    bool operator==(const DiagnosticsRead&) const = default;
};

// An upgrade image refused before anything was sent ("upgradeFailed").
struct ImageRefused {
    std::string reason;
    bool operator==(const ImageRefused&) const = default;
};

using OperationResult = std::variant<LoginAnswered, ValueRead, ConfigRead, DiagnosticsRead, ImageRefused>;

}  // namespace kbr
