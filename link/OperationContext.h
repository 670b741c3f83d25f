#pragma once
// What a device operation may do in the page window that runs it.
//
// Operations (link/Operation.h) are plain state machines; everything they do outside
// themselves goes through this interface. The page window implements it with its link, its
// OPERATION_TIMER, its page script and its message boxes; tests and command-line tools implement
// it with fakes or a bare DeviceLink.
//
// Contract for the implementer (the page window):
//   - Everything is called on the window thread, from inside an operation's Start/OnTimeout/
//     OnReply.
//   - Send: one send of exactly these bytes, no time limit; the result is not examined (a
//     request that could not go out ends by the operation's timer).
//   - StartOperationTimer replaces a running OPERATION_TIMER, whoever started it; each expiry
//     calls ActiveOperation()->OnTimeout() (a tick with no active operation does nothing).
//     Periods: 5000, 10000 or 200000 ms. An operation dropped without finishing (code 1005)
//     leaves its timer running; the window must make sure that timer can never time out the
//     next operation with the old period. Since every operation that becomes active starts the
//     timer at once, it is enough that StartOperationTimer restarts the period from now.
//   - A reply read from the link goes to ActiveOperation()->OnReply(bytes) with exactly the
//     bytes of that read (never the zero padding of a receive buffer); with no active
//     operation it is dropped.
//   - ShowMessage and AskYesNo are modal: timers and replies keep being served meanwhile and may
//     reach the operation that is waiting for the answer, or code 1005 may drop it. Operations
//     cope with that (they look at ActiveOperation() again afterwards). The window must keep
//     the operation object alive while any of its calls is running (e.g. hold it by
//     shared_ptr and take a copy before calling into it).
//   - Start may show a box before the operation becomes active (the upgrade's file-error
//     message), so the queue pump must not start another operation while a Start call is still
//     running (a "starting" mark next to ActiveOperation).
//   - CompleteOperation(result): calls the page's completion callback with the result as
//     decimal text, as the window does for every operation.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/OperationResult.h"
#include "link/ConfigParameter.h"

namespace kbr {

class OperationHandler;

// How a page function receives a list of strings: CallFunction passes one string parameter per
// element in list order; CallFunctionWithArray passes one VBArray parameter, which the page
// receives in reverse order. Operations always give the list in program order.
enum class PageCallForm { CallFunction, CallFunctionWithArray };

// The page window's state that operations read and write.
struct PageDeviceState {
    ConfigParameters parameters = MakeConfigParameters();
    std::string imageProductId;   // "prod_id" of the last image section loaded
    std::string deviceProductId;  // "c:prod_id" as the device reported it
    std::string imageVersion;     // "a:version" of section 1 (function 14) or "version" of section 2
    std::string deviceVersion;    // "a:version" as the device reported it
};

// Caption of message boxes that give none of their own: the program file's base name.
inline constexpr std::string_view DEFAULT_CAPTION = "KBR3300";

class OperationContext {
public:
    virtual ~OperationContext() = default;

    // ---- The device link
    virtual void Send(std::span<const uint8_t> request) = 0;

    // ---- OPERATION_TIMER
    virtual void StartOperationTimer(uint32_t periodMs) = 0;
    virtual void KillOperationTimer() = 0;

    // ---- The page
    virtual void CallPage(std::string_view function, const std::vector<std::string>& args, PageCallForm form) = 0;
    // Reports an operation's result to the page (0 success, other failure).
    virtual void CompleteOperation(int result) = 0;

    // ---- The window's operation slot
    virtual void SetActiveOperation(OperationHandler* operation) = 0;  // nullptr: none
    virtual OperationHandler* ActiveOperation() const = 0;

    // ---- The user (modal; caption DEFAULT_CAPTION)
    virtual void ShowMessage(std::string_view text) = 0;   // OK button only
    virtual bool AskYesNo(std::string_view question) = 0;  // true for Yes

    // ---- The upgrade progress window ("Upgrade Progress")
    // Creates it (parented to the window) unless it exists; does not show it.
    virtual void CreateUpgradeProgress() = 0;
    // Range 0..maximum, position 0, shown centred on the window and repainted at once.
    virtual void ShowUpgradeProgress(int maximum) = 0;
    // Position + 1.
    virtual void AdvanceUpgradeProgress() = 0;
    // Hides it if it exists.
    virtual void HideUpgradeProgress() = 0;

    // ---- The window's records
    virtual PageDeviceState& State() = 0;

    // ---- What the operation learned, typed (beside the page calls that carry the same); a
    // page window ignores it.
    virtual void Report(const OperationResult& result) { (void)result; }
};

}  // namespace kbr
