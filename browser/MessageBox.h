#pragma once
// Message boxes with the platform's style bits (buttons and icon) and answers, so every box of the
// programs keeps its texts, captions, buttons and results. Tests and demos can put a hook in place
// of the real box.

#include "browser/HostTypes.h"

#include <QString>

#include <functional>

class QWidget;

namespace kbr {

// Caption of boxes that give none of their own: the program file's base name.
inline constexpr const char* kProgramCaption = "KBR3300";

struct MessageBoxRequest {
    QWidget* owner = nullptr;  // null: no owner window
    QString text;
    QString caption;
    DWORD type = MBOX_OK;  // MB_* buttons and icon bits
};

// Shows a modal box and returns the button that closed it (ANSWER_OK, ANSWER_YES, ...). Closing
// the box without a button gives ANSWER_CANCEL where there is a Cancel button, ANSWER_NO for
// Yes/No boxes and ANSWER_OK for an OK box (what the platform's box does).
int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, DWORD type);

using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;
// Replaces every box with `hook` (empty: real boxes again); returns the hook that was set.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

}  // namespace kbr
