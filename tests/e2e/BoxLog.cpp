// The end-to-end test build of KBR3300: the program as shipped (its libraries and its real
// services) with one addition, read from the environment by this build alone: every message box
// is still shown as the real, native box, and the test answers it through the X server as a user
// would, but first its caption and text are written, and then its answer, to the file named by
// KBR_E2E_BOX_LOG, so the test can check texts that it cannot read off the screen.

#include "shell/ConfigApp.h"
#include "shell/ConfigSystemServices.h"
#include "testkit/EngineSanitizerDefaults.h"

#include <QByteArray>
#include <QFile>

namespace {

QByteArray OneLine(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.replace('\\', "\\\\");
    bytes.replace('\n', "\\n");
    return bytes;
}

class BoxLogServices : public kbr::ConfigSystemServices {
public:
    BoxLogServices() : path_(qEnvironmentVariable("KBR_E2E_BOX_LOG")) {}

    int ShowBox(const kbr::MessageBoxRequest& request) override {
        WriteLine("box [" + OneLine(request.caption) + "] " + OneLine(request.text) + "\n");
        const int answer = ConfigSystemServices::ShowBox(request);
        WriteLine("answer [" + OneLine(request.caption) + "] " + QByteArray::number(answer) + "\n");
        return answer;
    }

private:
    void WriteLine(const QByteArray& line) {
        if (path_.isEmpty()) return;
        QFile file(path_);
        if (file.open(QIODevice::Append)) {
            file.write(line);
            file.flush();
        }
    }

    QString path_;
};

}  // namespace

int main(int argc, char** argv) {
    BoxLogServices services;
    return kbr::RunConfigProgram(argc, argv, services);
}
