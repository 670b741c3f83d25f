#include "shell/UpgradeProgressDialog.h"

#include <QProgressBar>

namespace kbr {

UpgradeProgressDialog::UpgradeProgressDialog(QWidget* parent) : QDialog(parent) {
    // A caption bar without system menu or close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Upgrade Progress"));
    setModal(false);
    setFixedSize(WIDTH, HEIGHT);
    bar_ = new QProgressBar(this);
    bar_->setProperty("controlId", PROGRESS_BAR_ID);
    bar_->setTextVisible(false);
    // Across the window, with the template's margins.
    bar_->setGeometry(10, (HEIGHT - 20) / 2, WIDTH - 20, 20);
    bar_->setRange(0, 0);
    bar_->setValue(0);
}

void UpgradeProgressDialog::Begin(int maximum) {
    bar_->setRange(0, maximum < 0 ? 0 : maximum);
    bar_->setValue(0);
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->frameGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    repaint();
}

void UpgradeProgressDialog::Advance() {
    // QProgressBar ignores a value beyond its maximum.
    bar_->setValue(std::min(bar_->value() + 1, bar_->maximum()));
}

int UpgradeProgressDialog::Maximum() const { return bar_->maximum(); }

int UpgradeProgressDialog::Position() const { return bar_->value(); }

}  // namespace kbr
