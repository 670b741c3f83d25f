#pragma once
// Calls from the program into the script of a page: a PageCall is a call of a named global
// function of the page with a list of strings, in one of two forms:
//   CallFunction          f("a", "b", "c")            one string parameter per element, in order
//   CallFunctionWithArray f(VBArray(["c", "b", "a"]))  one VBArray holding the list reversed
// Every string and the name pass through JsStringLiteral, so no text can break out of its
// literal.
//
// How calls are delivered (Chromium runs page script in another process, so a call can never
// run to completion inside the C++ call):
//  - Inside a bridge call (the page is blocked in window.navigate('app:...') while its command
//    runs): the call is recorded and handed back with the bridge's answer; the page applies the
//    recorded calls, in order, before window.navigate returns. CallFunction returns true
//    ("delivered"); the result text is left empty. A function the page does not define is skipped
//    without a message; one that raises is reported by the page back through the bridge, which
//    shows ReportScriptError(SystemErrorText(DISP_E_EXCEPTION)) before the page goes on.
//  - At any other time (timers, device replies): the call is sent with runJavaScript. It returns
//    true when sent (false when no page is bound); results and errors arrive asynchronously, in the
//    order the calls were made: the optional `done` callback gets (ran, result text) from the
//    event loop, with ran false for a missing function (no message) and for a raising one (after
//    the stop-icon box). The box never opens inside the engine's callback.

#include "browser/HostTypes.h"

#include <QJsonArray>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWebEnginePage;

namespace kbr {

class PageScript {
public:
    using StringList = std::vector<std::string>;
    // (ran, result): result is the returned string, empty for any other return value.
    using Done = std::function<void(bool ran, const std::string& result)>;

    PageScript() = default;
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
    static void ReportScriptError(const std::string& text);
    // The system's text for a failure code, or "FormatMessage Netive Error" when it has none.
    static std::string SystemErrorText(uint32_t code);

    // The bridge (CHtmlCtrl): calls between Begin and End are recorded, not sent. Calls are
    // returned as [{"f": name, "a": [args...]} | {"f": name, "v": [array elements...]}].
    void BeginBridgeCall();
    QJsonArray EndBridgeCall();
    bool InBridgeCall() const { return !frames_.empty(); }

    // The script source of one call (exposed for tests of the escaping).
    static std::string CallSource(const std::string& name, const StringList& args, bool asArray);

private:
    bool Call(const std::string& name, const StringList& args, bool asArray, std::string* result, Done done);

    QPointer<QWebEnginePage> page_;
    std::vector<QJsonArray> frames_;
};

}  // namespace kbr
