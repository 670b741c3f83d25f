#include "browser/ResScheme.h"

#include "browser/HtmlCtrl.h"
#include "browser/PageLibrary.h"

#include <QBuffer>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace kbr {

void RegisterResScheme() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    QWebEngineUrlScheme scheme(kResScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    // Not LocalAccessAllowed (a res page could then read file: URLs), not CorsEnabled (no other
    // origin may read our answers).
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void ResSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QUrl url = job->requestUrl();
    if (job->requestMethod() != "GET" || url.host().compare(kPageLibraryHost, Qt::CaseInsensitive) != 0) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const QString path = url.path(QUrl::FullyDecoded);
    if (path == QLatin1String(kBridgePath)) {
        CHtmlCtrl::HandleBridgeRequest(job, this);
        return;
    }
    PageLibrary& library = PageLibrary::Shared();
    if (!library.Loaded()) {
        job->fail(QWebEngineUrlRequestJob::RequestFailed);
        return;
    }
    const std::string name = path.toStdString();
    const auto bytes = library.Find(name);
    if (!bytes) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto* buffer = new QBuffer(job);
    buffer->setData(reinterpret_cast<const char*>(bytes->data()), static_cast<qsizetype>(bytes->size()));
    job->reply(QByteArray::fromStdString(MimeTypeForName(name)), buffer);
}

}  // namespace kbr
