#include "browser/PageBridge.h"

#include "browser/AppCommand.h"
#include "browser/HostServices.h"
#include "browser/HtmlCtrl.h"
#include "browser/HtmlHostEvents.h"
#include "browser/PageScript.h"
#include "browser/ResScheme.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>

#include <cstdio>
#include <string>

namespace kbr {
namespace {

// bridge.js as the build embedded it.
const QString& BridgeSource() {
    static const QString source = [] {
        QFile file(QStringLiteral(":/browser/bridge.js"));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "the page bridge script is missing from the program\n");
            return QString();
        }
        return QString::fromUtf8(file.readAll());
    }();
    return source;
}

std::u16string ToU16(const QString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), s.size());
}

LRESULT ShowScriptBox(HtmlHostEvents* events, const QString& message, DWORD type) {
    LRESULT answer = 0;
    if (!events) return answer;
    std::u16string text = ToU16(message);
    (void)events->ShowMessage(nullptr, text.data(), nullptr, type, nullptr, 0, &answer);
    return answer;
}

}  // namespace

PageBridge::PageBridge(CHtmlCtrl& control) : control_(control) {
    const quint64 a = QRandomGenerator::system()->generate64();
    const quint64 b = QRandomGenerator::system()->generate64();
    token_ = QString::number(a, 16).rightJustified(16, '0') + QString::number(b, 16).rightJustified(16, '0');
}

QWebEngineScript PageBridge::DocumentScript() const {
    QWebEngineScript script;
    script.setName(QStringLiteral("kbr-bridge"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QString(BridgeSource()).replace(QLatin1String("@TOKEN@"), token_));
    return script;
}

void PageBridge::Alert(HtmlHostEvents* events, const QString& message) {
    (void)ShowScriptBox(events, message, MBOX_OK | MBOX_ICONEXCLAMATION);
}

bool PageBridge::Confirm(HtmlHostEvents* events, const QString& message) {
    return ShowScriptBox(events, message, MBOX_OKCANCEL | MBOX_ICONQUESTION) == ANSWER_OK;
}

std::optional<QString> PageBridge::Prompt(HostServices& services, const QString& message, const QString& value) {
    return services.AskText({QStringLiteral("Caption"), message, value});
}

void PageBridge::HandleRequest(QWebEngineUrlRequestJob* job) {
    const QUrlQuery query(job->requestUrl());
    const QString token = query.queryItemValue(QStringLiteral("t"));
    const QString kindName = query.queryItemValue(QStringLiteral("k"));
    const QString text = query.queryItemValue(QStringLiteral("a"), QUrl::FullyDecoded);
    const QUrl initiator = job->initiator();
    // Only our own pages: a `res` document of this control. Anything else gets nothing done.
    if (token.isEmpty() || token != token_ || initiator.scheme() != QLatin1String(RES_SCHEME) ||
        initiator.host().compare(PAGE_LIBRARY_HOST, Qt::CaseInsensitive) != 0) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    Kind kind;
    if (kindName == "app") kind = Kind::App;
    else if (kindName == "alert") kind = Kind::Alert;
    else if (kindName == "confirm") kind = Kind::Confirm;
    else if (kindName == "prompt") kind = Kind::Prompt;
    else if (kindName == "error") kind = Kind::Error;
    else {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    // Never run the command inside the engine's callback: a child page window could not load
    // there. The page stays blocked in its request until the job is answered, from now on: page
    // calls made until then (even before the command starts) go with the answer, in order.
    control_.Script().BeginBridgeCall();
    QPointer<QWebEngineUrlRequestJob> pending(job);
    QTimer::singleShot(0, this, [this, pending, kind, text] { Run(pending, kind, text); });
}

void PageBridge::Run(const QPointer<QWebEngineUrlRequestJob>& job, Kind kind, const QString& text) {
    const QPointer<PageBridge> self(this);
    QJsonObject answer;
    switch (kind) {
        case Kind::App: {
            const std::string url = text.toLocal8Bit().toStdString();
            if (auto rest = MatchAppUrl(url)) control_.HandleAppUrl(std::string(*rest).c_str());
            break;
        }
        case Kind::Alert: Alert(control_.Events(), text); break;
        case Kind::Confirm: answer.insert("value", Confirm(control_.Events(), text)); break;
        case Kind::Prompt: {
            const QJsonArray parts = QJsonDocument::fromJson(text.toUtf8()).array();
            const std::optional<QString> value =
                Prompt(control_.Services(), parts.at(0).toString(), parts.at(1).toString());
            answer.insert("value", value ? QJsonValue(*value) : QJsonValue());
            break;
        }
        case Kind::Error:
            std::fprintf(stderr, "script error in %s\n", qPrintable(text));
            control_.Script().ReportScriptError(
                PageScript::SystemErrorText(static_cast<uint32_t>(KBR_DISP_E_EXCEPTION)));
            break;
    }
    if (!self) {  // the window went away with its command
        if (job) job->fail(QWebEngineUrlRequestJob::RequestAborted);
        return;
    }
    // The page may have gone away meanwhile: then the calls made for it end as not run.
    answer.insert("calls", control_.Script().EndBridgeCall(!job.isNull()));
    if (!job) return;
    auto* buffer = new QBuffer(job);
    buffer->setData(QJsonDocument(answer).toJson(QJsonDocument::Compact));
    job->reply("application/json", buffer);
}

}  // namespace kbr
