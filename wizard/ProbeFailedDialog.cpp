#include "wizard/ProbeFailedDialog.h"

#include "widgets/ProductIcon.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kbr::wizard {

namespace {
// 288 x 107 dialog units at 96 dpi.
constexpr int DIALOG_WIDTH = 432;
constexpr int DIALOG_HEIGHT = 174;
}  // namespace

ProbeFailedDialog::ProbeFailedDialog() : QDialog(nullptr) {
    setObjectName("ProbeFailedDialog");
    setWindowTitle(CAPTION);
    setWindowIcon(ProductIcon());
    setModal(true);

    auto* checks = new QLabel(TEXT_CHECKS, this);
    checks->setObjectName("checksText");
    auto* settings = new QLabel(TEXT_SETTINGS, this);
    settings->setObjectName("settingsText");

    tryAgain_ = new QPushButton("Try again", this);
    tryAgain_->setObjectName("tryAgainButton");
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("cancelButton");
    help_ = new QPushButton("Help to configure DHCP", this);
    help_->setObjectName("helpButton");
    tryAgain_->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(tryAgain_);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    buttons->addWidget(help_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(checks);
    layout->addWidget(settings);
    layout->addStretch(1);
    layout->addLayout(buttons);

    resize(QSize(DIALOG_WIDTH, DIALOG_HEIGHT).expandedTo(sizeHint()));
    tryAgain_->setFocus();

    connect(tryAgain_, &QPushButton::clicked, this, &ProbeFailedDialog::RetryRequested);
    connect(cancel_, &QPushButton::clicked, this, &ProbeFailedDialog::reject);
    connect(help_, &QPushButton::clicked, this, &ProbeFailedDialog::HelpRequested);
}

void ProbeFailedDialog::reject() { done(ID_CANCEL); }

}  // namespace kbr::wizard
