#pragma once
// Drives a running ProbeFailedDialog the way a user would, one step after another: "enter",
// "esc", "close" (the close box), "help", "cancel" (the button). Each step runs to its end (a
// retry included) before the next one is scheduled. Used by the unit tests and by the wizard's
// test variant.

#include "wizard/ProbeFailedDialog.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kbr::wizard::test {

using StepLog = std::function<void(const std::string&)>;

inline void PressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

// Runs one step; false for an unknown one.
inline bool RunStep(ProbeFailedDialog& dialog, const std::string& step) {
    QWidget* focus = dialog.focusWidget() != nullptr ? dialog.focusWidget() : &dialog;
    if (step == "enter") {
        PressKey(focus, Qt::Key_Return);
    } else if (step == "esc") {
        PressKey(focus, Qt::Key_Escape);
    } else if (step == "close") {
        dialog.close();
    } else if (step == "help") {
        dialog.HelpButton()->click();
    } else if (step == "cancel") {
        dialog.CancelButton()->click();
    } else {
        return false;
    }
    return true;
}

// Schedules `steps` on the dialog's event loop, then runs the dialog modally and returns its
// result. A script that does not close the dialog is closed with "esc" at its end so that a test
// never hangs.
inline int RunScripted(ProbeFailedDialog& dialog, std::vector<std::string> steps, const StepLog& log = {}) {
    auto remaining = std::make_shared<std::vector<std::string>>(std::move(steps));
    QPointer<ProbeFailedDialog> guard(&dialog);
    auto next = std::make_shared<std::function<void()>>();
    *next = [guard, remaining, next, log] {
        if (!guard || !guard->isVisible()) {
            return;
        }
        std::string step = "esc";
        if (!remaining->empty()) {
            step = remaining->front();
            remaining->erase(remaining->begin());
        }
        if (log) {
            log("step " + step);
        }
        if (!RunStep(*guard, step) && log) {
            log("unknown step " + step);
        }
        if (guard && guard->isVisible()) {
            if (log) {
                log("dialog still open");
            }
            QTimer::singleShot(0, guard, [next] {
                if (*next) {
                    (*next)();
                }
            });
        }
    };
    QTimer::singleShot(0, &dialog, [next] {
        if (*next) {
            (*next)();
        }
    });
    const int result = dialog.exec();
    *next = nullptr;  // break the self-reference
    return result;
}

}  // namespace kbr::wizard::test
