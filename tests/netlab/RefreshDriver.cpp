// "Refresh IP address" as the Reminder runs it, for the network lab: the shipped ReminderDialog
// (nwinf from the current directory, twice; the probe of 192.168.0.20:52121; the verdict from
// ipinfo.tmp), offscreen. Prints the verdict box's text and exits 0; exits 1 when no box came.
#include <QApplication>

#include <cstdio>

#include "netcheck/ReminderDialog.h"
#include "widgets/MessageBox.h"

namespace {

// Keeps the verdict box's text instead of showing it.
class VerdictBox : public kbr::MessageBoxes {
public:
    int ShowBox(const kbr::MessageBoxRequest& request) override {
        verdict = request.text;
        seen = true;
        return kbr::ANSWER_OK;
    }
    QString verdict;
    bool seen = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    VerdictBox box;
    kbr::ReminderDialog dialog(box);  // the shipped helper and probe target
    dialog.show();
    dialog.Refresh();
    if (!box.seen) {
        std::fputs("netlab_refresh: no verdict box\n", stderr);
        return 1;
    }
    std::printf("%s\n", box.verdict.toLocal8Bit().constData());
    return 0;
}
