#include "browser/ResScheme.h"

#include "browser/HostServices.h"
#include "browser/PageBridge.h"
#include "browser/PageLibrary.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "platform/Platform.h"

namespace kbr {

void RegisterResScheme() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    QWebEngineUrlScheme scheme(RES_SCHEME);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    // Not LocalScheme: a local scheme's pages could load nothing of their own scheme without
    // LocalAccessAllowed, and with that a res page could read file: URLs. Not CorsEnabled: no
    // other origin may read our answers. Page windows never load remote content (request
    // filter), so nothing remote can reach res either.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void PrepareBrowserEngine() {
    RegisterResScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Chromium refuses to start its sandbox as root.
    if (platform::RunsAsSuperuser()) {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-sandbox")) {
            if (!flags.isEmpty()) flags += ' ';
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + "--no-sandbox");
        }
    }
}

ResSchemeHandler::ResSchemeHandler(HostServices& services, PageBridge* bridge, QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), services_(services), bridge_(bridge) {}

void ResSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QUrl url = job->requestUrl();
    if (job->requestMethod() != "GET" || url.host().compare(PAGE_LIBRARY_HOST, Qt::CaseInsensitive) != 0) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const QString path = url.path(QUrl::FullyDecoded);
    if (path == QLatin1String(BRIDGE_PATH)) {
        if (bridge_) {
            bridge_->HandleRequest(job);
        } else {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
        }
        return;
    }
    const PageLibrary* library = services_.Pages();
    if (!library || !library->Loaded()) {
        job->fail(QWebEngineUrlRequestJob::RequestFailed);
        return;
    }
    const std::string name = path.toStdString();
    const auto bytes = library->Find(name);
    if (!bytes) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto* buffer = new QBuffer(job);
    buffer->setData(reinterpret_cast<const char*>(bytes->data()), static_cast<qsizetype>(bytes->size()));
    job->reply(QByteArray::fromStdString(MimeTypeForName(name)), buffer);
}

}  // namespace kbr
