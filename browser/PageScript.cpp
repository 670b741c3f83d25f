#include "browser/PageScript.h"

#include "browser/ScriptText.h"
#include "platform/Platform.h"
#include "widgets/MessageBox.h"

#include <QJsonObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <algorithm>
#include <cstdio>

namespace kbr {
namespace {

// Text of the program (system code page) as the UTF-8 the script literals are made of.
std::string ToUtf8(const std::string& ansi) { return QString::fromLocal8Bit(ansi).toStdString(); }

// The application's standard box: captioned with its name, stop icon, OK.
void ShowScriptError(MessageBoxes& boxes, const std::string& text) {
    (void)boxes.ShowBox(
        {nullptr, QString::fromLocal8Bit(text), QString::fromLatin1(PROGRAM_CAPTION), MBOX_OK | MBOX_ICONHAND});
}

QJsonArray ToJson(const PageScript::StringList& list) {
    QJsonArray array;
    for (const std::string& s : list) array.append(QString::fromLocal8Bit(s));
    return array;
}

}  // namespace

PageScript::PageScript(MessageBoxes& boxes) { state_->boxes = &boxes; }

PageScript::~PageScript() {
    // Outcomes still on their way find no one to tell.
    state_->alive = false;
}

bool PageScript::BindScript(QWebEnginePage* page) {
    if (!page) {
        ReportScriptError("NULL pointer");
        return false;
    }
    page_ = page;
    expecting_ = false;
    if (frames_.empty()) SendWaiting();
    return true;
}

bool PageScript::CallFunction(const std::string& name, const StringList& args, std::string* result, Done done) {
    return Call(name, args, false, result, std::move(done));
}

bool PageScript::CallFunctionWithArray(const std::string& name, const StringList& args, std::string* result,
                                       Done done) {
    return Call(name, args, true, result, std::move(done));
}

std::string PageScript::CallSource(const std::string& name, const StringList& args, bool asArray, uint64_t seq,
                                   bool collectOnly) {
    // The array form hands the page one VBArray of the list reversed; the VBArray object is the
    // one the host's compatibility script defines in every page.
    std::string list = "[";
    const size_t n = args.size();
    for (size_t i = 0; i < n; ++i) {
        if (i) list += ',';
        list += JsStringLiteral(ToUtf8(asArray ? args[n - 1 - i] : args[i]));
    }
    list += ']';
    const std::string quotedName = JsStringLiteral(ToUtf8(name));
    const char* form = asArray ? "true" : "false";
    // Without the host's script (a document it did not reach) the call runs on its own.
    std::string plain =
        "(function(n,a,v){var f=window[n];if(typeof f!=='function')return{ran:false};"
        "try{var r=v?f.call(window,new VBArray(a)):f.apply(window,a);"
        "return{ran:true,result:typeof r==='string'?r:''};}"
        "catch(e){return{ran:false,error:String(e&&e.message||e)};}})(" +
        quotedName + "," + list + "," + form + ")";
    if (seq == 0) return plain;
    const std::string s = std::to_string(seq);
    return "(typeof window.__kbrRun==='function'?window.__kbrRun(" + s + "," + quotedName + "," + list + "," + form +
           "," + (collectOnly ? "true" : "false") + "):" + (collectOnly ? std::string("{ran:false}") : plain) + ")";
}

bool PageScript::Call(const std::string& name, const StringList& args, bool asArray, std::string* result, Done done) {
    if (result) result->clear();
    const bool recording = !frames_.empty();
    if (!recording && !page_ && !expecting_) return false;  // no document now, none coming
    Pending call;
    call.seq = ++nextSeq_;
    call.name = name;
    call.args = args;
    call.asArray = asArray;
    call.done = std::move(done);
    state_->pending.push_back(std::move(call));
    if (recording) {
        frames_.back().push_back(nextSeq_);
    } else if (page_) {
        SendWaiting();
    }
    return true;
}

void PageScript::SendWaiting() {
    if (!page_) return;
    for (Pending& call : state_->pending) {
        if (!call.sent) Send(call);
    }
}

void PageScript::Send(Pending& call) {
    call.sent = true;
    const QString source =
        QString::fromStdString(CallSource(call.name, call.args, call.asArray, call.seq, call.answered));
    const std::weak_ptr<State> state = state_;
    const uint64_t seq = call.seq;
    page_->runJavaScript(source, QWebEngineScript::MainWorld, [state, seq](const QVariant& value) {
        // Inside the engine's callback: finish from the event loop, where a box may open.
        const QVariantMap map = value.toMap();
        const bool ran = map.value("ran").toBool();
        const std::string text = map.value("result").toString().toLocal8Bit().toStdString();
        const std::string error = map.contains("error") ? map.value("error").toString().toStdString() : std::string();
        QTimer::singleShot(0, [state, seq, ran, text, error] { Finish(state, seq, ran, text, error); });
    });
}

void PageScript::Finish(const std::weak_ptr<State>& weak, uint64_t seq, bool ran, const std::string& result,
                        const std::string& error) {
    const std::shared_ptr<State> state = weak.lock();
    if (!state || !state->alive) return;
    auto it = std::find_if(state->pending.begin(), state->pending.end(),
                           [seq](const Pending& call) { return call.seq == seq; });
    if (it == state->pending.end()) return;  // already finished (e.g. its renderer ended first)
    Outcome outcome{std::move(it->name), std::move(it->done), ran, result, error};
    state->pending.erase(it);
    Deliver(state, std::move(outcome));
}

void PageScript::Deliver(const std::shared_ptr<State>& state, Outcome outcome) {
    state->outcomes.push_back(std::move(outcome));
    // One at a time, in order: an error box of one call holds back the outcomes after it.
    if (state->delivering) return;
    state->delivering = true;
    while (state->alive && !state->outcomes.empty()) {
        Outcome next = std::move(state->outcomes.front());
        state->outcomes.pop_front();
        if (!next.error.empty()) {
            std::fprintf(stderr, "script error in %s: %s\n", next.name.c_str(), next.error.c_str());
            ShowScriptError(*state->boxes, SystemErrorText(static_cast<uint32_t>(KBR_DISP_E_EXCEPTION)));
            if (!state->alive) break;
        }
        if (next.done) next.done(next.ran, next.result);
    }
    state->delivering = false;
}

void PageScript::FailLater(const std::function<bool(const Pending&)>& which) {
    std::vector<Outcome> failed;
    for (auto it = state_->pending.begin(); it != state_->pending.end();) {
        if (which(*it)) {
            failed.push_back(Outcome{std::move(it->name), std::move(it->done), false, {}, {}});
            it = state_->pending.erase(it);
        } else {
            ++it;
        }
    }
    if (failed.empty()) return;
    const std::weak_ptr<State> weak = state_;
    auto shared = std::make_shared<std::vector<Outcome>>(std::move(failed));
    QTimer::singleShot(0, [weak, shared] {
        const std::shared_ptr<State> state = weak.lock();
        if (!state || !state->alive) return;
        for (Outcome& outcome : *shared) Deliver(state, std::move(outcome));
    });
}

bool PageScript::InOpenFrame(uint64_t seq) const {
    for (const auto& frame : frames_) {
        if (std::find(frame.begin(), frame.end(), seq) != frame.end()) return true;
    }
    return false;
}

void PageScript::BeginBridgeCall() { frames_.emplace_back(); }

QJsonArray PageScript::EndBridgeCall(bool pageWaiting) {
    if (frames_.empty()) return {};
    const std::vector<uint64_t> recorded = std::move(frames_.back());
    frames_.pop_back();
    if (!pageWaiting) {
        // The page cannot be answered: what was made for it is not run.
        FailLater([&recorded](const Pending& call) {
            return std::find(recorded.begin(), recorded.end(), call.seq) != recorded.end();
        });
        return {};
    }
    // Every call the page may not have run yet, in order: those still waiting to be sent, those
    // sent to this document and not answered (they may be queued behind the blocked page), and the
    // ones made during this bridge call. Calls recorded by an outer bridge call wait for its answer.
    QJsonArray calls;
    for (Pending& call : state_->pending) {
        if (call.answered || call.stale || InOpenFrame(call.seq)) continue;
        QJsonObject entry{{"s", static_cast<double>(call.seq)}, {"f", QString::fromLocal8Bit(call.name)}};
        if (call.asArray) {
            StringList reversed(call.args.rbegin(), call.args.rend());
            entry.insert("v", ToJson(reversed));
        } else {
            entry.insert("a", ToJson(call.args));
        }
        calls.append(entry);
        call.answered = true;
    }
    // Their outcomes are read back (without running them again) once the page goes on.
    if (frames_.empty()) SendWaiting();
    return calls;
}

void PageScript::ExpectDocument() {
    if (!page_) expecting_ = true;
}

void PageScript::DocumentStarted() {
    for (Pending& call : state_->pending) {
        if (call.sent) call.stale = true;
    }
}

void PageScript::DocumentFailed() {
    if (page_) return;
    expecting_ = false;
    // The calls waiting for the document that did not come (those of an open bridge call still go
    // with its answer).
    FailLater([this](const Pending& call) { return !call.sent && !InOpenFrame(call.seq); });
}

void PageScript::RendererEnded() {
    FailLater([](const Pending& call) { return call.sent; });
}

void PageScript::ReportScriptError(const std::string& text) { ShowScriptError(*state_->boxes, text); }

std::string PageScript::SystemErrorText(uint32_t code) {
    return platform::SystemErrorText(code).value_or("FormatMessage Netive Error");
}

}  // namespace kbr
