#pragma once
// The browser control of a page window: a QWebEngineView with its own page, profile and `res`
// scheme handler, created in place of a placeholder child of the window. Its pages reach the
// program through its PageBridge (PageBridge.h); what it does outside them (boxes, the file
// chooser, remote links, the page library) goes through the HostServices it was made with.
//
// Keeping page windows on local pages: http, https, ws and file loads are refused by a request
// filter; links to remote sites open in the desktop's browser; new windows and permission
// requests are refused; other documents may be loaded by the program itself but never get the
// bridge's token, so they get nothing done.

#include "browser/AppCommand.h"
#include "browser/HtmlHostEvents.h"
#include "browser/PageBridge.h"
#include "browser/PageScript.h"

#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QWebEngineProfile;

namespace kbr {

class HostServices;
class ResSchemeHandler;

// The page of a CHtmlCtrl: routes the engine's requests to the host events.
class HtmlPage : public QWebEnginePage {
    Q_OBJECT
public:
    HtmlPage(QWebEngineProfile* profile, HtmlHostEvents** events, HostServices& services, QObject* parent);

    // A remote link is opened outside only for a real user gesture: a click (or Enter or Space)
    // that the view saw within the last GESTURE_WINDOW, once per gesture, and only for the link
    // element that received it. Page script alone (location.href = ..., a.click()), or script run
    // by a click on something else, opens nothing.
    static constexpr std::chrono::milliseconds GESTURE_WINDOW{1000};
    void NoteUserGesture();
    // Injected into every document, in a script world of its own that the page's scripts cannot
    // reach: remembers the link (if any) that the user's last click landed on.
    static QWebEngineScript ClickedLinkScript();

    // The files chosen in this page's file inputs, latest last: the page itself only ever sees
    // "C:\fakepath\NAME". At most MAX_CHOSEN_FILES are kept, one per name.
    static constexpr size_t MAX_CHOSEN_FILES = 16;
    const std::vector<ChosenFile>& ChosenFiles() const { return chosenFiles_; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl& origin, const QString& message) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& message) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;

private:
    HtmlHostEvents* Events() const { return *events_; }
    // True (once) while a gesture of the last GESTURE_WINDOW is unused.
    bool TakeUserGesture();
    // Opens url outside when it is the link that received the user's last click.
    void OpenIfClickedLink(const QUrl& url);

    HtmlHostEvents** events_;
    HostServices& services_;
    std::vector<ChosenFile> chosenFiles_;
    std::optional<std::chrono::steady_clock::time_point> gestureAt_;
};

class CHtmlCtrl : public QWebEngineView {
    Q_OBJECT
public:
    explicit CHtmlCtrl(HostServices& services, QWidget* parent = nullptr);
    ~CHtmlCtrl() override;

    // Creates the control in place of the child of `parentDialog` whose property "controlId"
    // equals controlId (the placeholder is removed). False, creating nothing, when there is none.
    bool ReplacePlaceholder(int controlId, QWidget* parentDialog, HtmlHostEvents* events);
    // Creation: profile, page, settings, scheme handler, bridge script; the control becomes a
    // child of parent at rect. Called by ReplacePlaceholder.
    bool Create(QWidget* parent, const QRect& rect, int controlId);

    void Navigate(const QString& url);
    // Text after "app:" of a page command. Default: for the two functions that take a file path
    // (8 and 14), put the full path of the file the user chose in the page back in place of its
    // "C:\fakepath\NAME" value (WithChosenFilePath); parse into an AppCommand and hand it to
    // events->OnAppCommand.
    virtual void HandleAppUrl(const char* text);

    // Title of the first bound document (empty until bound; a later load does not change it).
    const std::string& PageTitle() const { return pageTitle_; }
    PageScript& Script() { return pageScript_; }
    bool IsBound() const { return bound_; }
    HtmlHostEvents* Events() const { return events_; }
    HostServices& Services() const { return services_; }
    // Control id of the placeholder it replaced.
    int ControlId() const { return controlId_; }

    // Actions appended (after a separator) to the engine's context menu.
    void SetExtraContextActions(QList<QAction*> actions) { extraActions_ = std::move(actions); }

    // The token the control's own pages send with every bridge call.
    QString BridgeToken() const { return bridge_.Token(); }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    // The engine's view widgets get the user's input: they are watched for gestures.
    void childEvent(QChildEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnLoadFinished(bool ok);

    HostServices& services_;
    HtmlHostEvents* events_ = nullptr;
    QWebEngineProfile* profile_ = nullptr;
    HtmlPage* page_ = nullptr;
    ResSchemeHandler* handler_ = nullptr;
    PageScript pageScript_;
    PageBridge bridge_;
    std::string pageTitle_;
    bool bound_ = false;
    bool binding_ = false;
    bool inDialog_ = false;
    int controlId_ = 0;
    QList<QAction*> extraActions_;
};

}  // namespace kbr
