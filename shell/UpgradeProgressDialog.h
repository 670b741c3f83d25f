#pragma once
// "Upgrade Progress": a modeless window with one progress bar across it, shown by the firmware
// upgrade of its page window. It has no buttons and no close box; the upgrade hides it at its end
// and the main window hides it when the connection is lost.

#include <QDialog>

class QProgressBar;

namespace kbr {

class UpgradeProgressDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int PROGRESS_BAR_ID = 1007;
    // Template 171: 186 x 33 dialog units at 96 dpi (x 1.5, x 1.625).
    static constexpr int WIDTH = 279;
    static constexpr int HEIGHT = 54;

    explicit UpgradeProgressDialog(QWidget* parent);

    // Range 0..maximum, position 0; shown centred on the parent window and repainted at once.
    void Begin(int maximum);
    // Position + 1. The bar's range comes from section 1 alone while both sections advance it, so
    // a bar that is already full stays full instead of being left where it was.
    void Advance();

    int Maximum() const;
    int Position() const;
    QProgressBar* Bar() const { return bar_; }

protected:
    // No close box; Esc does not close it either.
    void reject() override {}

private:
    QProgressBar* bar_;
};

}  // namespace kbr
