#pragma once
// Calls from the program into the script of a page: a PageCall is a call of a named global
// function of the page with a list of strings, in one of two forms:
//   CallFunction          f("a", "b", "c")            one string parameter per element, in order
//   CallFunctionWithArray f(VBArray(["c", "b", "a"]))  one VBArray holding the list reversed
// Every string and the name pass through JsStringLiteral, so no text can break out of its
// literal.
//
// How calls are delivered. Chromium runs page script in another process, so a call can never run
// to completion inside the C++ call. Every call gets a sequence number and is delivered once, in
// the order the calls were made, whenever it is made:
//  - Inside a bridge call (from the moment the page's window.navigate('app:...') request arrives
//    until it is answered: its command, and any box or child window the command opens): the call
//    is recorded and handed back with the bridge's answer; the page applies it before
//    window.navigate returns. The answer also carries every earlier call that the page may not
//    have run yet (one sent with runJavaScript that is still queued behind the blocked page, or one
//    waiting for the first document), so nothing made earlier runs later. The page keeps, per
//    document, which calls it has run, so a call that reaches it both ways runs once.
//  - Before the first document is bound (the control is loading it): the call waits and is sent
//    when the document is bound. If that load fails, the waiting calls end with done(false) and
//    later calls return false until the control loads again.
//  - At any other time (timers, device replies): the call is sent with runJavaScript.
// CallFunction returns true when the call was accepted for delivery (false when no document is
// bound or coming); the result text is left empty. Results and errors arrive asynchronously, in
// the order the calls were made: the optional `done` callback gets (ran, result text) from the
// event loop exactly once for every accepted call while the control lives, with ran false for a
// missing function (no message), for a raising one (after the stop-icon box, shown once) and for
// a call the page could not be handed (its document went away, or the page's renderer ended).
// The box never opens inside the engine's callback; it goes to the MessageBoxes the PageScript
// was made with.

#include "browser/HostTypes.h"

#include <QJsonArray>
#include <QPointer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWebEnginePage;

namespace kbr {

class MessageBoxes;

class PageScript {
public:
    using StringList = std::vector<std::string>;
    // (ran, result): result is the returned string, empty for any other return value.
    using Done = std::function<void(bool ran, const std::string& result)>;

    explicit PageScript(MessageBoxes& boxes);
    ~PageScript();
    PageScript(const PageScript&) = delete;
    PageScript& operator=(const PageScript&) = delete;

    // Binds the page whose script is called. Null: ReportScriptError("NULL pointer"), the previous
    // binding is kept, false.
    bool BindScript(QWebEnginePage* page);
    bool IsBound() const { return !page_.isNull(); }

    bool CallFunction(const std::string& name, const StringList& args, std::string* result = nullptr, Done done = {});
    bool CallFunctionWithArray(const std::string& name, const StringList& args, std::string* result = nullptr,
                               Done done = {});

    // A modal stop-icon box captioned "KBR3300" with `text`.
    void ReportScriptError(const std::string& text);
    // The system's text for a failure code, or "FormatMessage Netive Error" when it has none.
    static std::string SystemErrorText(uint32_t code);

    // The bridge (CHtmlCtrl): calls between Begin and End are recorded, not sent. End gives the
    // calls the page must apply before its window.navigate returns:
    //   [{"s": seq, "f": name, "a": [args...]} | {"s": seq, "f": name, "v": [array elements...]}]
    // pageWaiting false: the page can no longer be answered; the calls recorded in this bridge call
    // end with done(false) and nothing is returned.
    void BeginBridgeCall();
    QJsonArray EndBridgeCall(bool pageWaiting = true);
    bool InBridgeCall() const { return !frames_.empty(); }

    // The control's document life (CHtmlCtrl): a document that will be bound is loading; the
    // control's page starts a new document (calls already sent are no longer re-sent with bridge
    // answers: they belong to the old one, or run in the new one on their own); the awaited first
    // document failed to load; the page's renderer ended (calls sent and not answered end with
    // done(false)).
    void ExpectDocument();
    void DocumentStarted();
    void DocumentFailed();
    void RendererEnded();

    // The script source of one call (exposed for tests of the escaping). seq 0: a plain call
    // outside the delivery order; collectOnly: the call was handed over with a bridge answer and
    // must not run again, only its outcome is read.
    static std::string CallSource(const std::string& name, const StringList& args, bool asArray, uint64_t seq = 0,
                                  bool collectOnly = false);

private:
    struct Pending {
        uint64_t seq = 0;
        std::string name;
        StringList args;
        bool asArray = false;
        Done done;
        bool sent = false;      // runJavaScript issued, outcome not back yet
        bool answered = false;  // handed to the page with a bridge answer
        bool stale = false;     // sent to a document that has been replaced: not re-sent with answers
    };
    struct Outcome {
        std::string name;
        Done done;
        bool ran = false;
        std::string result;
        std::string error;  // non-empty: the call raised and the box is still to be shown
    };
    struct State {
        MessageBoxes* boxes = nullptr;
        std::deque<Pending> pending;   // accepted calls whose done has not fired, in seq order
        std::deque<Outcome> outcomes;  // outcomes back from the page, handed on one at a time
        bool delivering = false;
        bool alive = true;
    };

    bool Call(const std::string& name, const StringList& args, bool asArray, std::string* result, Done done);
    void Send(Pending& call);
    void SendWaiting();
    static void Finish(const std::weak_ptr<State>& weak, uint64_t seq, bool ran, const std::string& result,
                       const std::string& error);
    static void Deliver(const std::shared_ptr<State>& state, Outcome outcome);
    // Takes the calls `which` selects out of the delivery and ends them with done(false) from the
    // event loop.
    void FailLater(const std::function<bool(const Pending&)>& which);
    bool InOpenFrame(uint64_t seq) const;

    QPointer<QWebEnginePage> page_;
    bool expecting_ = false;
    uint64_t nextSeq_ = 0;
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::vector<std::vector<uint64_t>> frames_;  // per open bridge call: the seqs recorded in it
};

}  // namespace kbr
