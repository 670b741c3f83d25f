#include "widgets/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

#include <utility>
#include <vector>

namespace kbr {

int RunMessageBox(const MessageBoxRequest& request) {
    QMessageBox box(request.owner);
    box.setWindowTitle(request.caption);
    box.setText(request.text);
    switch (request.type & 0xF0) {
        case MBOX_ICONHAND: box.setIcon(QMessageBox::Critical); break;
        case MBOX_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
        case MBOX_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
        case MBOX_ICONASTERISK: box.setIcon(QMessageBox::Information); break;
        default: box.setIcon(QMessageBox::NoIcon); break;
    }
    using B = QMessageBox::StandardButton;
    std::vector<std::pair<B, int>> buttons;
    int escapeAnswer = ANSWER_OK;
    switch (request.type & 0x0F) {
        case MBOX_OKCANCEL:
            buttons = {{B::Ok, ANSWER_OK}, {B::Cancel, ANSWER_CANCEL}};
            escapeAnswer = ANSWER_CANCEL;
            break;
        case MBOX_ABORTRETRYIGNORE:
            buttons = {{B::Abort, ANSWER_ABORT}, {B::Retry, ANSWER_RETRY}, {B::Ignore, ANSWER_IGNORE}};
            escapeAnswer = ANSWER_ABORT;
            break;
        case MBOX_YESNOCANCEL:
            buttons = {{B::Yes, ANSWER_YES}, {B::No, ANSWER_NO}, {B::Cancel, ANSWER_CANCEL}};
            escapeAnswer = ANSWER_CANCEL;
            break;
        case MBOX_YESNO:
            buttons = {{B::Yes, ANSWER_YES}, {B::No, ANSWER_NO}};
            escapeAnswer = ANSWER_NO;
            break;
        case MBOX_RETRYCANCEL:
            buttons = {{B::Retry, ANSWER_RETRY}, {B::Cancel, ANSWER_CANCEL}};
            escapeAnswer = ANSWER_CANCEL;
            break;
        default: buttons = {{B::Ok, ANSWER_OK}}; break;
    }
    QMessageBox::StandardButtons set;
    for (const auto& [button, answer] : buttons) set |= button;
    box.setStandardButtons(set);
    box.setDefaultButton(buttons.front().first);
    box.exec();
    for (const auto& [button, answer] : buttons) {
        if (box.clickedButton() == box.button(button)) return answer;
    }
    return escapeAnswer;
}

}  // namespace kbr
