#pragma once
// The small notice shown while the device is probed. The probe blocks the user-interface thread,
// so the notice is painted explicitly before it starts.

#include <QDialog>

namespace kbr::wizard {

class ProbeNoticeDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* CAPTION = "KBR3300 Wizard";
    static constexpr const char* TEXT = "Connect to KBR3300 ....";

    // Modeless, without an owner and without a close box.
    ProbeNoticeDialog();

    // Shows the notice centred on the primary screen's work area and paints it at once.
    void ShowAndPaint();
    // Paints `window` now, waiting (bounded) until the window system has made it visible.
    static void PaintNow(QWidget* window);

public slots:
    // The notice cannot be dismissed by the user (Esc); only its run closes it.
    void reject() override {}
};

}  // namespace kbr::wizard
