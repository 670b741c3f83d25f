// "Refresh IP address" as the Reminder runs it, for the network lab: the shipped ReminderDialog
// (nwinf from the current directory, twice; the probe of 192.168.0.20:52121; the verdict from
// ipinfo.tmp), offscreen. Prints the verdict box's text and exits 0; exits 1 when no box came.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

#include "netcheck/ReminderDialog.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    kbr::ReminderDialog dialog;  // the shipped helper and probe target
    dialog.show();

    // Answers the verdict box and keeps its text.
    QString verdict;
    bool seen = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box != nullptr && box->isVisible()) {
                verdict = box->text();
                seen = true;
                box->button(QMessageBox::Ok)->click();
            }
        }
    });
    watcher.start(20);
    dialog.Refresh();
    if (!seen) {
        std::fputs("netlab_refresh: no verdict box\n", stderr);
        return 1;
    }
    std::printf("%s\n", verdict.toLocal8Bit().constData());
    return 0;
}
