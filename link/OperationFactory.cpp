#include "link/OperationFactory.h"

#include <cctype>
#include <cstdint>

#include "link/ConfigOperations.h"
#include "link/ConfigParameter.h"
#include "link/Messages.h"
#include "link/UpgradeOperation.h"
#include "link/ValueOperations.h"

namespace kbr {

std::unique_ptr<OperationHandler> MakeOperation(int function, OperationContext& context) {
    if (auto name = StoredParameterName(function))
        return std::make_unique<StoreValueOperation>(context, function, *name);
    switch (function) {
        case 0: return std::make_unique<LoginOperation>(context);
        case 1: return std::make_unique<GetConfigOperation>(context);
        case 7: return std::make_unique<SetConfigOperation>(context);
        case 8: return std::make_unique<UpgradeOperation>(context);
        case 9: return std::make_unique<DiagOperation>(context);
        case 10: return std::make_unique<ActionOperation>(context);
        case 12: return std::make_unique<ReadValueOperation>(context, 12, KEY_PRODUCT_ID, "CallbackProdID");
        case 13: return std::make_unique<ReadValueOperation>(context, 13, KEY_FIRMWARE_VERSION, "CallbackImageVer");
        case 14: return std::make_unique<ReadImageVersion>(context);
        case 15: return std::make_unique<ReadValueOperation>(context, 15, KEY_FIRMWARE_VERSION, "CallbackFwVer");
        default: return nullptr;
    }
}

FunctionCommand ParseFunctionCommand(std::string_view command) {
    FunctionCommand out;
    const size_t colon = command.find(':');
    if (colon == std::string_view::npos) {
        out.args = std::string(command);
        return out;
    }
    out.args = std::string(command.substr(colon + 1));
    const std::string_view number = command.substr(0, colon);
    size_t i = 0;
    while (i < number.size() && std::isspace(static_cast<unsigned char>(number[i]))) ++i;
    bool negative = false;
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) negative = number[i++] == '-';
    int64_t value = 0;
    for (; i < number.size() && number[i] >= '0' && number[i] <= '9'; ++i) {
        value = value * 10 + (number[i] - '0');
        if (value > INT32_MAX) {
            out.function = -1;
            return out;
        }
    }
    out.function = static_cast<int>(negative ? -value : value);
    return out;
}

}  // namespace kbr
