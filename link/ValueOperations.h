#pragma once
// The single-exchange operations: login (function 0), the action request (10) and the reading
// of a named device value (12, 13, 15). Each sends one request and finishes on the first reply
// or on its timer.

#include <string>
#include <string_view>

#include "link/Operation.h"

namespace kbr {

// Function 0: REQ_LOGIN with the page's password (its first 8 bytes). Any reply ends it: its
// status alone decides "CallbackLogin" ("0" accepted, "1" refused), then completion 0. No reply
// within 5000 ms: "Unable to login" and no page call.
class LoginOperation : public Operation {
public:
    static constexpr uint32_t TIMER_MS = 5000;
    explicit LoginOperation(OperationContext& context) : Operation(context, kbr::PageFunction::FUNC_LOGIN) {}
    void Start(std::string_view password) override;

protected:
    void Timeout() override;
    void Reply(std::span<const uint8_t> received) override;
};

// Function 10: REQ_ACTION; completion 0 for an accepted REP_ACTION, 1 for any other reply or no
// reply within 10000 ms.
class ActionOperation : public Operation {
public:
    static constexpr uint32_t TIMER_MS = 10000;
    explicit ActionOperation(OperationContext& context) : Operation(context, kbr::PageFunction::FUNC_ACTION) {}
    void Start(std::string_view args) override;

protected:
    void Timeout() override;
    void Reply(std::span<const uint8_t> received) override;
};

// Functions 12 ("c:prod_id" to "CallbackProdID"), 13 ("a:version" to "CallbackImageVer") and 15
// ("a:version" to "CallbackFwVer"): REQ_GET_VALUE; an accepted REP_VALUE passes its value text
// to the page function and completes with 0; anything else calls nothing and completes with 1,
// as does no reply within 200000 ms.
class ReadValueOperation : public Operation {
public:
    static constexpr uint32_t TIMER_MS = 200000;
    ReadValueOperation(OperationContext& context, kbr::PageFunction function, std::string_view key,
                       std::string_view pageFunction)
        : Operation(context, function), key_(key), pageFunction_(pageFunction) {}
    void Start(std::string_view args) override;

    const std::string& Key() const { return key_; }
    const std::string& PageFunction() const { return pageFunction_; }

protected:
    void Timeout() override;
    void Reply(std::span<const uint8_t> received) override;

private:
    std::string key_;
    std::string pageFunction_;
};

}  // namespace kbr
