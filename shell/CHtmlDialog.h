#pragma once
// A page window: a dialog that hosts one CHtmlCtrl in place of its placeholder 1006 and shows a
// page. MainDialog and every child page window are CHtmlDialogs.
//
// Extension points (see README.md):
//  - OnAppCommand(const AppCommand&): a page command, called synchronously while the page waits
//    in window.navigate; page calls made through HtmlCtrl().Script() during it reach the page
//    before navigate returns. Modal windows opened here (exec()) run to their end first. The base
//    does nothing: the page command dispatcher overrides it.
//  - OnDocumentReady(): the first document is bound; the base sets the caption to its title.
//  - OnInitDialog(): runs once, when exec() starts, before the window is shown; returning false
//    ends the run at once with result(). The base hosts the control and navigates to the start URL.

#include "browser/HtmlCtrl.h"
#include "browser/HtmlHostEvents.h"

#include <QDialog>
#include <QString>

namespace kbr {

class CHtmlDialog : public QDialog, public HtmlHostEvents {
    Q_OBJECT
public:
    static constexpr int kPlaceholderId = 1006;
    // Template 170: 447 x 277 dialog units at 96 dpi (x 1.5, x 1.625).
    static constexpr int kTemplateWidth = 671;
    static constexpr int kTemplateHeight = 450;

    explicit CHtmlDialog(const QString& startUrl, QWidget* parent = nullptr);
    ~CHtmlDialog() override;

    // Runs OnInitDialog once, then the modal run.
    int exec() override;

    CHtmlCtrl& HtmlCtrl() { return *control_; }
    const QString& StartUrl() const { return startUrl_; }
    // Sets the outer window size; the window has no sizing border otherwise.
    void SetWindowSize(int width, int height);

    void OnAppCommand(const AppCommand& command) override;
    void OnDocumentReady() override;

protected:
    virtual bool OnInitDialog();
    void resizeEvent(QResizeEvent* event) override;

private:
    CHtmlCtrl* control_;
    QString startUrl_;
    bool initialised_ = false;
};

}  // namespace kbr
