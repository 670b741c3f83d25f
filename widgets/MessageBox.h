#pragma once
// Message boxes with the platform's style bits (buttons and icon) and answers, so every box of the
// programs keeps its texts, captions, buttons and results.
//
// Nothing shows a box on its own: a window asks its program's services (the MessageBoxes it was
// given in the configuration program, WizardServices in the wizard), which show the real box
// (RunMessageBox) in the programs and record it in tests.

#include "platform/ProgramNames.h"
#include "widgets/MessageBoxStyle.h"

#include <QString>

#include <cstdint>

class QWidget;

namespace kbr {

using platform::PROGRAM_CAPTION;

struct MessageBoxRequest {
    QWidget* owner = nullptr;  // null: no owner window
    QString text;
    QString caption;
    uint32_t type = MBOX_OK;  // MBOX_* buttons and icon bits
};

// Shows the real box modally and returns the button that closed it (ANSWER_OK, ANSWER_YES, ...).
// Closing the box without a button gives ANSWER_CANCEL where there is a Cancel button, ANSWER_NO
// for Yes/No boxes and ANSWER_OK for an OK box (what the platform's box does).
int RunMessageBox(const MessageBoxRequest& request);

// Where a window's boxes go.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A modal box; returns its answer as RunMessageBox does.
    virtual int ShowBox(const MessageBoxRequest& request) = 0;
};

}  // namespace kbr
