#include "link/OperationFactory.h"

#include <cctype>
#include <cstdint>

#include "link/ConfigOperations.h"
#include "link/ConfigParameter.h"
#include "link/Messages.h"
#include "link/UpgradeOperation.h"
#include "link/ValueOperations.h"

namespace kbr {

std::unique_ptr<OperationHandler> MakeOperation(PageFunction function, OperationContext& context) {
    using enum PageFunction;
    if (auto name = StoredParameterName(FunctionNumber(function)))
        return std::make_unique<StoreValueOperation>(context, function, *name);
    switch (function) {
        case FUNC_LOGIN: return std::make_unique<LoginOperation>(context);
        case FUNC_GETCONFIG: return std::make_unique<GetConfigOperation>(context);
        case FUNC_SET_CONFIG: return std::make_unique<SetConfigOperation>(context);
        case FUNC_UPGRADE_IMAGE: return std::make_unique<UpgradeOperation>(context);
        case FUNC_GET_DIAG: return std::make_unique<DiagOperation>(context);
        case FUNC_ACTION: return std::make_unique<ActionOperation>(context);
        case FUNC_GET_PRODUCT_ID:
            return std::make_unique<ReadValueOperation>(context, function, KEY_PRODUCT_ID, "CallbackProdID");
        case FUNC_GET_IMAGE_VERSION:
            return std::make_unique<ReadValueOperation>(context, function, KEY_FIRMWARE_VERSION, "CallbackImageVer");
        case FUNC_READ_IMAGE_VERSION: return std::make_unique<ReadImageVersion>(context);
        case FUNC_GET_FIRMWARE_VERSION:
            return std::make_unique<ReadValueOperation>(context, function, KEY_FIRMWARE_VERSION, "CallbackFwVer");
        default: return nullptr;  // the stored values, made above
    }
}

std::unique_ptr<OperationHandler> MakeOperation(int function, OperationContext& context) {
    if (function < FunctionNumber(PageFunction::FUNC_LOGIN) ||
        function > FunctionNumber(PageFunction::FUNC_GET_FIRMWARE_VERSION)) {
        return nullptr;
    }
    return MakeOperation(static_cast<PageFunction>(function), context);
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
