#include "link/ConfigOperations.h"

#include <algorithm>

#include "link/ConfigEntry.h"
#include "link/ConfigParameter.h"
#include "link/Messages.h"
#include "link/OperationContext.h"

namespace kbr {

namespace {

std::string NumberText(std::span<const uint8_t> field) { return SignedDecimal(DecodeNumber(field)); }

// TxPower's first value: the four bytes folded 4 bits apart (each byte is expected to be a
// nibble; wider bytes overlap, as the device's own tools do).
uint32_t FoldNibbles(std::span<const uint8_t> field) {
    uint32_t value = 0;
    for (size_t i = 0; i < field.size() && i < 4; ++i) value = (value << 4) | field[i];
    return value;
}

}  // namespace

// ---- StoreValueOperation

void StoreValueOperation::Start(std::string_view value) {
    if (ConfigParameter* record = FindParameter(Context().State().parameters, parameterName_)) {
        record->valueB = std::string(value);
    }
}

// ---- GetConfigOperation

DecodedParameter DecodeParameter(size_t index, const ConfigEntry& entry) {
    DecodedParameter out;
    const std::string key = std::to_string(index);
    const std::span<const uint8_t> a = entry.valueA;
    const std::span<const uint8_t> b = entry.valueB;
    switch (index) {
        case 0:  // TxPower: read only
            out.storeConfigArgs = {key, SignedDecimal(FoldNibbles(a)), NumberText(b)};
            return out;
        case 2:  // admPswd
        case 5:  // password
            out.valueA = DecodeText(a);
            out.valueB = DecodeText(b);
            break;
        case 3:  // SwConfig: the page and the record see A OR B
            out.valueA = NumberText(a);
            out.valueB = SignedDecimal(DecodeNumber(a) | DecodeNumber(b));
            break;
        default:  // DiplexerMode, channelMask, scanMask
            out.valueA = NumberText(a);
            out.valueB = NumberText(b);
            break;
    }
    out.storesRecord = true;
    out.storeConfigArgs = {key, out.valueB};
    return out;
}

void GetConfigOperation::Start(std::string_view) { BecomeActive(TIMER_MS, BuildGetConfigRequest()); }

void GetConfigOperation::Reply(std::span<const uint8_t> received) {
    OperationContext& context = Context();
    const Decoded<MessageHeader> header = ReadReplyHeader(received);
    if (!header) return;  // not even a header: keep waiting
    if (header->status == 0 && header->type != REP_CONFIG) {
        // Not the configuration: ask again; the timer still counts from the first request.
        context.Send(BuildGetConfigRequest());
        return;
    }
    context.CallPage("storeConfig", {std::string(VERSION_KEY), VersionText(header->version)},
                     PageCallForm::CallFunctionWithArray);
    if (header->status != 0) return;  // failure reply: keep waiting
    const Decoded<ConfigMessage> reply = ReadConfigReply(received);
    if (!reply) return;  // entries cut short: keep waiting

    PageDeviceState& state = context.State();
    ConfigRead read{VersionText(header->version), {}};
    for (const ConfigEntry& entry : reply->entries) {
        const std::optional<size_t> index = ParameterIndex(entry.name);
        if (!index) continue;  // unknown names are skipped with their bytes
        DecodedParameter decoded = DecodeParameter(*index, entry);
        if (decoded.storesRecord) {
            if (ConfigParameter* record = FindParameter(state.parameters, entry.name)) {
                record->valueA = std::move(decoded.valueA);
                record->valueB = std::move(decoded.valueB);
            }
        }
        context.CallPage("storeConfig", decoded.storeConfigArgs, PageCallForm::CallFunctionWithArray);
        read.parameters.push_back(std::move(decoded.storeConfigArgs));
    }
    context.CallPage("display_config", {}, PageCallForm::CallFunction);
    context.Report(read);
    Finish(0);
}

void GetConfigOperation::Timeout() { Finish(std::nullopt); }

// ---- SetConfigOperation

ConfigEntry EncodeParameter(const ConfigParameter& record) {
    if (record.isText) return MakeTextEntry(record.name, record.valueA, record.valueB, record.width);
    return MakeNumberEntry(record.name, ParseDecimalModulo32(record.valueA), ParseDecimalModulo32(record.valueB),
                           record.width);
}

void SetConfigOperation::Start(std::string_view) {
    std::vector<ConfigEntry> entries;
    for (const ConfigParameter& record : Context().State().parameters) entries.push_back(EncodeParameter(record));
    BecomeActive(TIMER_MS, BuildSetConfigRequest(entries));
}

void SetConfigOperation::Reply(std::span<const uint8_t> received) {
    Finish(IsAcceptedReply(received, REP_SET_CONFIG) ? 0 : 1);
}

void SetConfigOperation::Timeout() { Finish(1); }

// ---- DiagOperation

void DiagOperation::Start(std::string_view) { BecomeActive(TIMER_MS, BuildGetDiagRequest()); }

void DiagOperation::Reply(std::span<const uint8_t> received) {
    const Decoded<DiagTexts> texts = ReadDiagReply(received);
    if (!texts || texts->first.empty()) {
        Finish(1);
        return;
    }
    Context().CallPage("display_diag", {texts->first, texts->second, "extra", "12"},
                       PageCallForm::CallFunctionWithArray);
    if (IsCurrent()) Context().Report(DiagnosticsRead{texts->first, texts->second});
    if (IsCurrent()) Context().Send(BuildGetDiagRequest());  // the timer is not restarted
}

void DiagOperation::Timeout() { Finish(std::nullopt); }

}  // namespace kbr
