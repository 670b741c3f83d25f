#include "shell/CHtmlDialog.h"

#include <QResizeEvent>

namespace kbr {

CHtmlDialog::CHtmlDialog(const QString& startUrl, QWidget* parent)
    : QDialog(parent), control_(new CHtmlCtrl()), startUrl_(startUrl) {
    // Caption, system menu and minimise box; no maximise box, no sizing border.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("KBR3300"));
    SetWindowSize(kTemplateWidth, kTemplateHeight);
    auto* placeholder = new QWidget(this);
    placeholder->setProperty("controlId", kPlaceholderId);
    placeholder->setGeometry(rect());
}

CHtmlDialog::~CHtmlDialog() { delete control_; }

void CHtmlDialog::SetWindowSize(int width, int height) { setFixedSize(width, height); }

int CHtmlDialog::exec() {
    if (!initialised_) {
        initialised_ = true;
        setResult(QDialog::Rejected);
        if (!OnInitDialog()) return result();
    }
    return QDialog::exec();
}

bool CHtmlDialog::OnInitDialog() {
    if (!control_->ReplacePlaceholder(kPlaceholderId, this, this)) return false;
    control_->setGeometry(rect());
    control_->Navigate(startUrl_);
    return true;
}

void CHtmlDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (control_->parentWidget() == this) control_->setGeometry(rect());
}

void CHtmlDialog::OnAppCommand(const AppCommand&) {}

void CHtmlDialog::OnDocumentReady() { setWindowTitle(QString::fromLocal8Bit(control_->PageTitle())); }

}  // namespace kbr
