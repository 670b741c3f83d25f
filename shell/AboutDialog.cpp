#include "shell/AboutDialog.h"

#include "ProgramVersion.h"
#include "widgets/ProductIcon.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

namespace kbr {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About KBR3300"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* icon = new QLabel(this);
    icon->setPixmap(ProductIcon().pixmap(32, 32));
    version_ = new QLabel(QStringLiteral("KBR3300 Version 1.0.0"), this);
    version_->setProperty("controlId", 1008);
    version_->setText(QString::asprintf("%s", PROGRAM_VERSION));
    auto* line = new QLabel(QStringLiteral("KBR3300 configuration program"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(version_, 0, 1);
    layout->addWidget(line, 1, 1);
    layout->addWidget(buttons, 0, 2, 2, 1, Qt::AlignTop);
    // Template 100: 235 x 55 dialog units.
    setFixedSize(353, 89);
}

}  // namespace kbr
