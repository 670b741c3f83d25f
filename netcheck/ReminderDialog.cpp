#include "netcheck/ReminderDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <memory>

#include "netcheck/RefreshVerdict.h"
#include "netcheck/RefreshWaitDialog.h"
#include "widgets/MessageBox.h"

namespace kbr {

namespace {

QLabel* MakeText(const char* text, const char* name, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// The picture at the left: the adaptor with its Config/Normal button stands for "put it back".
QPixmap ReminderBitmap(const QWidget* widget) {
    return widget->style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, widget).pixmap(48, 48);
}

}  // namespace

ReminderDialog::ReminderDialog(MessageBoxes& boxes, RefreshSettings settings, QWidget* parent)
    // A caption but no close box; leaving is OK or Esc.
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      boxes_(boxes),
      settings_(std::move(settings)) {
    setWindowTitle(QString::fromLatin1(CAPTION));
    setFixedSize(WIDTH_PX, HEIGHT_PX);
    setModal(true);

    auto* bitmap = new QLabel(this);
    bitmap->setObjectName(QStringLiteral("bitmap"));
    bitmap->setPixmap(ReminderBitmap(this));
    bitmap->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    okButton_ = new QPushButton(QString::fromLatin1(OK_LABEL), this);
    okButton_->setObjectName(QStringLiteral("okButton"));
    okButton_->setDefault(true);
    refreshButton_ = new QPushButton(QString::fromLatin1(REFRESH_LABEL), this);
    refreshButton_->setObjectName(QStringLiteral("refreshButton"));
    connect(okButton_, &QPushButton::clicked, this, &ReminderDialog::accept);
    connect(refreshButton_, &QPushButton::clicked, this, &ReminderDialog::Refresh);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(MakeText(TEXT_1, "text1", this));
    texts->addWidget(MakeText(TEXT_2, "text2", this));
    texts->addWidget(MakeText(TEXT_3, "text3", this));
    texts->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(refreshButton_);
    texts->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(bitmap, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
    FitTextsToSize();
    okButton_->setFocus();
}

void ReminderDialog::FitTextsToSize() {
    // The window keeps the size of its template; where the desktop's font is larger than the one
    // the template was drawn for, a smaller font keeps every line of the three texts visible.
    constexpr qreal SMALLEST_POINT_SIZE = 6.0;
    QFont font = this->font();
    layout()->activate();
    while (layout()->totalHeightForWidth(WIDTH_PX) > HEIGHT_PX && font.pointSizeF() > SMALLEST_POINT_SIZE) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        setFont(font);
        layout()->invalidate();
        layout()->activate();
    }
}

QString ReminderDialog::HelperFile(const char* name) const {
    const QDir directory = settings_.directory.isEmpty() ? QDir::current() : QDir(settings_.directory);
    return directory.filePath(QString::fromLatin1(name));
}

void ReminderDialog::accept() {
    QFile::remove(HelperFile(IPINFO_FILE));
    QFile::remove(HelperFile(NICINFO_FILE));
    QDialog::accept();
}

void ReminderDialog::Refresh() {
    // Fresh flags for every refresh: nothing from an earlier one can leak into this verdict.
    auto flags = std::make_shared<RefreshFlags>();
    {
        RefreshWaitDialog wait(flags, settings_, this);
        wait.exec();
    }
    // The wait dialog has just left this one uncovered.
    repaint();

    const QString ipinfo = HelperFile(IPINFO_FILE);
    const AddressLine line = ReadAddressLine(QFile::encodeName(ipinfo).toStdString());
    const std::string_view verdict = ChooseVerdict(line, flags->DeviceStillReachable.load());
    ShowVerdict(QString::fromLatin1(verdict.data(), static_cast<qsizetype>(verdict.size())));
    // A missing file is left as it is (nothing to delete); a read one is used up.
    if (line.state != AddressLine::State::Missing) QFile::remove(ipinfo);
}

void ReminderDialog::ShowVerdict(const QString& text) {
    (void)boxes_.ShowBox({this, text, QString::fromLatin1(CAPTION), MBOX_OK | MBOX_ICONEXCLAMATION});
}

int ShowReminder(MessageBoxes& boxes, QWidget* parent) {
    ReminderDialog dialog(boxes, RefreshSettings{}, parent);
    return dialog.exec();
}

}  // namespace kbr
