#pragma once
// A message box's style bits (buttons and icon) and its answers, as the platform defines them.
// Plain C++: the Windows build checks them against the system's own values.

#include <cstdint>

namespace kbr {

constexpr uint32_t MBOX_OK = 0x0, MBOX_OKCANCEL = 0x1, MBOX_ABORTRETRYIGNORE = 0x2, MBOX_YESNOCANCEL = 0x3,
                   MBOX_YESNO = 0x4, MBOX_RETRYCANCEL = 0x5;
constexpr uint32_t MBOX_ICONHAND = 0x10, MBOX_ICONQUESTION = 0x20, MBOX_ICONEXCLAMATION = 0x30,
                   MBOX_ICONASTERISK = 0x40;
constexpr int ANSWER_OK = 1, ANSWER_CANCEL = 2, ANSWER_ABORT = 3, ANSWER_RETRY = 4, ANSWER_IGNORE = 5, ANSWER_YES = 6,
              ANSWER_NO = 7;

}  // namespace kbr
