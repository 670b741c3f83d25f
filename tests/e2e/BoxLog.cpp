// Linked only into the end-to-end test build of KBR3300 (the program's own main.cpp and libraries
// plus this file). Every message box is still shown as the real, native box, and the test answers
// it through the X server as a user would; this file only writes what each box said, so the test
// can check texts that it cannot read off the screen. The file is named by KBR_E2E_BOX_LOG.

#include "browser/MessageBox.h"
#include "tests/browser/EngineSanitizerDefaults.h"

#include <QByteArray>
#include <QFile>

#include <cstdlib>

namespace {

void WriteLine(const QByteArray& line) {
    const char* path = std::getenv("KBR_E2E_BOX_LOG");
    if (!path || !*path) return;
    QFile file(QString::fromLocal8Bit(path));
    if (file.open(QIODevice::Append)) {
        file.write(line);
        file.flush();
    }
}

QByteArray OneLine(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.replace('\\', "\\\\");
    bytes.replace('\n', "\\n");
    return bytes;
}

int LoggedBox(const kbr::MessageBoxRequest& request) {
    WriteLine("box [" + OneLine(request.caption) + "] " + OneLine(request.text) + "\n");
    // The real box: the hook steps aside while it is open, then comes back.
    kbr::MessageBoxHook self = kbr::SetMessageBoxHook({});
    const int answer = kbr::ShowMessageBox(request.owner, request.text, request.caption, request.type);
    kbr::SetMessageBoxHook(std::move(self));
    WriteLine("answer [" + OneLine(request.caption) + "] " + QByteArray::number(answer) + "\n");
    return answer;
}

// Installed before main() runs; the hook is a plain function, no Qt object is made here.
const bool installed = (kbr::SetMessageBoxHook(&LoggedBox), true);

}  // namespace
