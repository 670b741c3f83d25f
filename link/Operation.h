#pragma once
// The device operations' common contract.
//
// The page window runs one operation at a time. It makes the operation for a function number
// (MakeOperation, link/OperationFactory.h) and drives it with three events:
//   OP_START   Start(args)        the args text of the command (ignored by functions 1, 7, 9, 10)
//   OP_TIMEOUT OnTimeout()        OPERATION_TIMER expired
//   OP_REPLY   OnReply(received)  one read of the link, exactly the bytes received
// An operation that talks to the device makes itself the window's ActiveOperation, starts
// OPERATION_TIMER with its period and sends its first request from Start. One that only stores
// a value (functions 2 to 6, 11, 14) does its work in Start and never becomes active. To finish,
// an operation kills the timer, clears ActiveOperation and, where it reports a result, calls
// CompleteOperation.
//
// Events that reach an operation which has finished, or which the window has dropped (another
// operation is active), are ignored, so a late timer tick or reply can do no harm.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "link/PageFunction.h"

namespace kbr {

class OperationContext;

enum OperationEvent { OP_START = 0, OP_TIMEOUT = 1, OP_REPLY = 2 };

class OperationHandler {
public:
    virtual ~OperationHandler() = default;

    virtual void Start(std::string_view args) = 0;
    virtual void OnTimeout() = 0;
    virtual void OnReply(std::span<const uint8_t> received) = 0;

    // The page function number this operation serves (8 is the firmware upgrade, which the
    // window asks about before closing).
    virtual int FunctionNumber() const = 0;
    // True from becoming active until it finishes.
    virtual bool IsRunning() const = 0;

    // The event form of the three calls: data is the args text for OP_START and the received
    // bytes for OP_REPLY.
    void Handle(OperationEvent event, std::span<const uint8_t> data = {});
};

// Base of the operations here: keeps the context, the running mark and the finishing steps.
class Operation : public OperationHandler {
public:
    Operation(OperationContext& context, kbr::PageFunction function) : context_(context), function_(function) {}

    void OnTimeout() final;
    void OnReply(std::span<const uint8_t> received) final;
    int FunctionNumber() const final { return kbr::FunctionNumber(function_); }
    kbr::PageFunction Function() const { return function_; }
    bool IsRunning() const final { return running_; }

protected:
    virtual void Timeout() = 0;
    virtual void Reply(std::span<const uint8_t> received) = 0;

    OperationContext& Context() { return context_; }
    // Becomes the ActiveOperation, starts the timer and sends the first request.
    void BecomeActive(uint32_t periodMs, std::span<const uint8_t> request);
    // Still the window's running operation (not finished, not dropped). Checked after anything
    // that runs a modal loop.
    bool IsCurrent() const;
    // Kills the timer, clears ActiveOperation if this is the active operation, then calls
    // CompleteOperation(result) when a result is given. An operation that never became active
    // (a check failed in Start) finishes the same way. Does nothing once finished, or when the
    // window dropped the operation while it was running (the timer may belong to another
    // operation by then, and the page asked not to hear about this one).
    void Finish(std::optional<int> result);

private:
    OperationContext& context_;
    kbr::PageFunction function_;
    bool running_ = false;
    bool finished_ = false;
};

}  // namespace kbr
