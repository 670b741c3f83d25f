#pragma once
// Reading and writing the device configuration (functions 1 and 7), storing a pending value
// (functions 2 to 6 and 11) and polling the diagnostics (function 9).

#include <string>
#include <string_view>
#include <vector>

#include "link/Operation.h"

namespace kbr {

struct ConfigEntry;
struct ConfigParameter;

// Functions 2 to 6 and 11: the args text becomes valueB of one record, unchanged. Never active,
// sends nothing, reports nothing.
class StoreValueOperation : public Operation {
public:
    StoreValueOperation(OperationContext& context, PageFunction function, std::string_view parameterName)
        : Operation(context, function), parameterName_(parameterName) {}
    void Start(std::string_view value) override;

protected:
    void Timeout() override {}
    void Reply(std::span<const uint8_t>) override {}

private:
    std::string parameterName_;
};

// What "storeConfig" gets for one known entry (the key first, in program order), and what goes
// into the window's record of that name, if it has one.
struct DecodedParameter {
    std::vector<std::string> storeConfigArgs;
    bool storesRecord = false;
    std::string valueA;
    std::string valueB;
};
// Decodes an entry whose name is ParameterNames[index]: numbers are the field's first 4 bytes
// big-endian as signed decimal; texts end at the first zero; TxPower's valueA is folded 4 bits per
// byte and its list has three elements; SwConfig shows valueA OR valueB.
DecodedParameter DecodeParameter(size_t index, const ConfigEntry& entry);

// Function 1: REQ_GET_CONFIG, 5000 ms. A configuration reply is reported as "storeConfig"
// ("100", version), one "storeConfig" per known entry (unknown names skipped), "display_config",
// then completion 0. A reply of another type with status 0 makes it ask again (the timer keeps
// running); a failure reply reports only the version and keeps waiting; the timer ends it
// silently. A configuration reply whose entries run past the received bytes is treated as a
// failure reply: nothing of it but the version is reported or stored.
class GetConfigOperation : public Operation {
public:
    static constexpr uint32_t TIMER_MS = 5000;
    explicit GetConfigOperation(OperationContext& context) : Operation(context, PageFunction::FUNC_GETCONFIG) {}
    void Start(std::string_view args) override;

protected:
    void Timeout() override;
    void Reply(std::span<const uint8_t> received) override;
};

// The entry written back for one record: valueA as read, valueB as changed; numbers from their
// decimal text modulo 2^32 (non-numeric text is 0), texts zero-filled to the width and cut to it
// when longer.
ConfigEntry EncodeParameter(const ConfigParameter& record);

// Function 7: REQ_SET_CONFIG built from the six records, 10000 ms; completion 0 for an accepted
// REP_SET_CONFIG, 1 for any other reply or no reply.
class SetConfigOperation : public Operation {
public:
    static constexpr uint32_t TIMER_MS = 10000;
    explicit SetConfigOperation(OperationContext& context) : Operation(context, PageFunction::FUNC_SET_CONFIG) {}
    void Start(std::string_view args) override;

protected:
    void Timeout() override;
    void Reply(std::span<const uint8_t> received) override;
};

// Function 9: REQ_GET_DIAG repeated for 10000 ms from the start (the timer is started once).
// Each accepted REP_DIAG with a non-empty first text gives "display_diag" (first, second,
// "extra", "12") and the next request; any other reply completes with 1; the timer ends it
// silently.
class DiagOperation : public Operation {
public:
    static constexpr uint32_t TIMER_MS = 10000;
    explicit DiagOperation(OperationContext& context) : Operation(context, PageFunction::FUNC_GET_DIAG) {}
    void Start(std::string_view args) override;

protected:
    void Timeout() override;
    void Reply(std::span<const uint8_t> received) override;
};

}  // namespace kbr
