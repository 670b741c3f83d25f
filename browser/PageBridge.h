#pragma once
// The page bridge of one browser control. Chromium cannot deliver "app:" navigations
// synchronously, and the pages rely on synchronous commands (a confirmation read right after the
// command; a child window that runs to its end before the opener's script goes on; several
// commands in a row, all in order). So a compatibility script (bridge.js, a resource of the
// program) is injected into every document (main world, at document creation). It defines
// VBArray and window.navigate(url); for an "app:" URL window.navigate makes a synchronous
// XMLHttpRequest to res://pgpack.dll/.kbr-bridge with the control's token. The control's `res`
// scheme handler hands such a request to this bridge, which checks that it comes from a `res`
// page and carries the token, keeps the job and posts the command to the event loop; there
// HandleAppUrl runs (modal boxes and child page windows included: the engine is never inside one
// of its callbacks then), and the job's answer carries the page calls made meanwhile (and earlier
// ones the page has not run yet: see PageScript.h), which the script applies before
// window.navigate returns. The script's alert(), confirm() and prompt() go the same way, so their
// boxes also open from the event loop; the engine's own alert/confirm/prompt (a document the
// script did not reach) end in the same functions.
//
// Each control has its own profile and so its own scheme handler, which knows its bridge: a
// request is only ever checked against the token of the control whose page sent it.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWebEngineScript>

#include <optional>

class QWebEngineUrlRequestJob;

namespace kbr {

class CHtmlCtrl;
class HostServices;
class HtmlHostEvents;

class PageBridge : public QObject {
    Q_OBJECT
public:
    // The bridge of `control`, with a fresh random token.
    explicit PageBridge(CHtmlCtrl& control);

    // The token the control's own pages send with every call (32 hex digits).
    const QString& Token() const { return token_; }
    // bridge.js with the token, to be injected into every document of the control.
    QWebEngineScript DocumentScript() const;

    // A request for the bridge's path that reached the control's `res` scheme. Refused at once
    // unless it comes from a page of the page library with the token; otherwise answered once
    // the call has run, from the event loop.
    void HandleRequest(QWebEngineUrlRequestJob* job);

    // A page's script boxes, whichever way they come. alert() and confirm() are the window's
    // ShowMessage (no owner, "Caption"); confirm() is true for OK. prompt() is the services' text
    // box titled "Caption"; nothing when cancelled.
    static void Alert(HtmlHostEvents* events, const QString& message);
    static bool Confirm(HtmlHostEvents* events, const QString& message);
    static std::optional<QString> Prompt(HostServices& services, const QString& message, const QString& value);

private:
    enum class Kind { App, Alert, Confirm, Prompt, Error };
    void Run(const QPointer<QWebEngineUrlRequestJob>& job, Kind kind, const QString& text);

    CHtmlCtrl& control_;
    QString token_;
};

}  // namespace kbr
