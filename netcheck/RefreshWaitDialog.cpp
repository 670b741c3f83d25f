#include "netcheck/RefreshWaitDialog.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace kbr {

RefreshWaitDialog::RefreshWaitDialog(std::shared_ptr<RefreshFlags> flags, const RefreshSettings& settings,
                                     QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      flags_(flags),
      worker_(std::move(flags), settings) {
    setWindowTitle(QString::fromLatin1(CAPTION));
    setFixedSize(WIDTH_PX, HEIGHT_PX);
    setModal(true);

    auto* text = new QLabel(QString::fromLatin1(TEXT), this);
    text->setObjectName(QStringLiteral("waitText"));
    text->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);

    pollTimer_ = new QTimer(this);
    pollTimer_->setInterval(settings.pollIntervalMs);
    connect(pollTimer_, &QTimer::timeout, this, &RefreshWaitDialog::Poll);
    pollTimer_->start();

    workerStarted_ = worker_.Start();
    // Without a worker nothing would ever end the wait; go straight to the result check.
    if (!workerStarted_) QTimer::singleShot(0, this, &QDialog::accept);
}

RefreshWaitDialog::~RefreshWaitDialog() = default;

void RefreshWaitDialog::reject() {}

void RefreshWaitDialog::Poll() {
    if (!flags_->RefreshDone.exchange(false)) return;
    pollTimer_->stop();
    accept();
}

}  // namespace kbr
