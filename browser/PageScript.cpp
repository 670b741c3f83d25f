#include "browser/PageScript.h"

#include "browser/MessageBox.h"
#include "browser/ScriptText.h"

#include <QJsonObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <cstdio>

namespace kbr {
namespace {

// Text of the program (system code page) as the UTF-8 the script literals are made of.
std::string ToUtf8(const std::string& ansi) { return QString::fromLocal8Bit(ansi).toStdString(); }

QJsonArray ToJson(const PageScript::StringList& list) {
    QJsonArray array;
    for (const std::string& s : list) array.append(QString::fromLocal8Bit(s));
    return array;
}

}  // namespace

bool PageScript::BindScript(QWebEnginePage* page) {
    if (!page) {
        ReportScriptError("NULL pointer");
        return false;
    }
    page_ = page;
    return true;
}

bool PageScript::CallFunction(const std::string& name, const StringList& args, std::string* result, Done done) {
    return Call(name, args, false, result, std::move(done));
}

bool PageScript::CallFunctionWithArray(const std::string& name, const StringList& args, std::string* result,
                                       Done done) {
    return Call(name, args, true, result, std::move(done));
}

std::string PageScript::CallSource(const std::string& name, const StringList& args, bool asArray) {
    // The array form hands the page one VBArray of the list reversed; the VBArray object is the
    // one the host's compatibility script defines in every page.
    std::string list = "[";
    const size_t n = args.size();
    for (size_t i = 0; i < n; ++i) {
        if (i) list += ',';
        list += JsStringLiteral(ToUtf8(asArray ? args[n - 1 - i] : args[i]));
    }
    list += ']';
    return "(function(n,a,v){var f=window[n];if(typeof f!=='function')return{ran:false};"
           "try{var r=v?f.call(window,new VBArray(a)):f.apply(window,a);"
           "return{ran:true,result:typeof r==='string'?r:''};}"
           "catch(e){return{ran:false,error:String(e&&e.message||e)};}})(" +
           JsStringLiteral(ToUtf8(name)) + "," + list + "," + (asArray ? "true" : "false") + ")";
}

bool PageScript::Call(const std::string& name, const StringList& args, bool asArray, std::string* result, Done done) {
    if (result) result->clear();
    if (!frames_.empty()) {
        QJsonObject call{{"f", QString::fromLocal8Bit(name)}};
        if (asArray) {
            StringList reversed(args.rbegin(), args.rend());
            call.insert("v", ToJson(reversed));
        } else {
            call.insert("a", ToJson(args));
        }
        frames_.back().append(call);
        if (done) QTimer::singleShot(0, [done] { done(true, std::string()); });
        return true;
    }
    if (!page_) return false;
    const QString source = QString::fromStdString(CallSource(name, args, asArray));
    const std::string functionName = name;
    page_->runJavaScript(source, QWebEngineScript::MainWorld, [done, functionName](const QVariant& value) {
        // Inside the engine's callback: finish from the event loop, where a box may open.
        const QVariantMap map = value.toMap();
        const bool ran = map.value("ran").toBool();
        const std::string text = map.value("result").toString().toLocal8Bit().toStdString();
        const bool raised = map.contains("error");
        const std::string error = map.value("error").toString().toStdString();
        QTimer::singleShot(0, [done, ran, text, raised, error, functionName] {
            if (raised) {
                std::fprintf(stderr, "script error in %s: %s\n", functionName.c_str(), error.c_str());
                ReportScriptError(SystemErrorText(static_cast<uint32_t>(KBR_DISP_E_EXCEPTION)));
            }
            if (done) done(ran, text);
        });
    });
    return true;
}

void PageScript::BeginBridgeCall() { frames_.emplace_back(); }

QJsonArray PageScript::EndBridgeCall() {
    if (frames_.empty()) return {};
    QJsonArray calls = std::move(frames_.back());
    frames_.pop_back();
    return calls;
}

void PageScript::ReportScriptError(const std::string& text) {
    (void)ShowMessageBox(nullptr, QString::fromLocal8Bit(text), QString::fromLatin1(kProgramCaption),
                         MBOX_OK | MBOX_ICONHAND);
}

std::string PageScript::SystemErrorText(uint32_t code) {
#ifdef _WIN32
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                          MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT),
                                          reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) return "FormatMessage Netive Error";
    std::string text(buffer, length);
    ::LocalFree(buffer);
    return text;
#else
    // The system's texts for the codes a page call can fail with.
    switch (code) {
        case 0x80020009u: return "Exception occurred.\r\n";
        case 0x80020006u: return "Unknown name.\r\n";
        case 0x80020005u: return "Type mismatch.\r\n";
        case 0x8002000Eu: return "Invalid number of parameters.\r\n";
        case 0x80004005u: return "Unspecified error\r\n";
        case 0x80004001u: return "Not implemented\r\n";
        case 0x80070057u: return "The parameter is incorrect.\r\n";
        case 0x8007000Eu: return "Not enough memory resources are available to complete this operation.\r\n";
        default: return "FormatMessage Netive Error";
    }
#endif
}

}  // namespace kbr
