#pragma once
// From a queued function command to the operation that runs it.
//
// The page window's queue pump does, per tick, when no operation is active:
//     FunctionCommand command = ParseFunctionCommand(queue.front()); queue.pop_front();
//     std::shared_ptr<OperationHandler> op = MakeOperation(command.function, context);
//     if (op) { keep op while Start runs; op->Start(command.args); }
// and keeps `op` for as long as context.ActiveOperation() == op.get(). Operations that only store
// a value finish inside Start without becoming active.

#include <memory>
#include <string>
#include <string_view>

#include "link/Operation.h"
#include "link/PageFunction.h"

namespace kbr {

class OperationContext;

// The operation for a page function number 0 to 15, bound to the window's context; nullptr for
// any other number (the command is dropped).
//   0 LoginOperation        1 GetConfigOperation     2-6, 11 StoreValueOperation
//   7 SetConfigOperation    8 UpgradeOperation       9 DiagOperation
//  10 ActionOperation      12, 13, 15 ReadValueOperation   14 ReadImageVersion
std::unique_ptr<OperationHandler> MakeOperation(int function, OperationContext& context);
std::unique_ptr<OperationHandler> MakeOperation(PageFunction function, OperationContext& context);

struct FunctionCommand {
    int function = 0;  // -1 when the number does not fit an int (no operation has it)
    std::string args;
};

// A queued command "N:args": N is the decimal number at the start of the text before the first
// ":" (leading blanks and a sign allowed; no digits is 0), args the text after that ":". Without
// a ":" the function is 0 and args is the whole command (so "1" logs in with the password "1").
FunctionCommand ParseFunctionCommand(std::string_view command);

}  // namespace kbr
