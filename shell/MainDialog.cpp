#include "shell/MainDialog.h"

#include "browser/MessageBox.h"
#include "browser/PageLibrary.h"
#include "shell/AboutDialog.h"
#include "shell/ProgramIcon.h"

#include <QAction>
#include <QCloseEvent>
#include <QTimer>

namespace kbr {

MainDialog::MainDialog(QWidget* parent) : CHtmlDialog(QString::fromLatin1(kStartUrl), parent) {
    setWindowIcon(ProgramIcon());
}

bool MainDialog::OnInitDialog() {
    // The page library: the current directory first, then the installation's data directory.
    const auto library = FindPageLibrary();
    if (!library) {
        (void)ShowMessageBox(this, QStringLiteral("Cannot find PgPack.DLL resource file!"), QString::fromLatin1(kProgramCaption),
                             MBOX_OK | MBOX_ICONEXCLAMATION);
        setResult(0);
        return false;
    }
    PageLibrary::SetSharedPath(*library);

    if (!CHtmlDialog::OnInitDialog()) return false;

    aboutAction_ = new QAction(QStringLiteral("&About KBR3300"), this);
    connect(aboutAction_, &QAction::triggered, this, &MainDialog::ShowAbout);
    HtmlCtrl().SetExtraContextActions({aboutAction_});

    setWindowIcon(ProgramIcon());
    deviceAddress_ = kDeviceAddress;
    devicePort_ = kDevicePort;
    // After the window is shown: the first event loop turn of the modal run.
    QTimer::singleShot(0, this, &MainDialog::ConnectToDevice);
    return true;
}

void MainDialog::ConnectToDevice() {}

void MainDialog::ShowAbout() {
    AboutDialog about(this);
    about.exec();
}

void MainDialog::closeEvent(QCloseEvent* event) {
    closingMark_ = true;
    CHtmlDialog::closeEvent(event);
}

}  // namespace kbr
