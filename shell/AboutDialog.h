#pragma once
// The About box: program icon, the version in control 1008, a further line and OK.

#include <QDialog>

class QLabel;

namespace kbr {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    QLabel* VersionLabel() const { return version_; }

private:
    QLabel* version_;
};

}  // namespace kbr
