#pragma once
// The `res` URL scheme: serves res://PgPack.dll/NAME from the page library and carries the page
// bridge (see HtmlCtrl.h).

#include <QWebEngineUrlSchemeHandler>

namespace kbr {

inline constexpr const char* kResScheme = "res";
inline constexpr const char* kPageLibraryHost = "pgpack.dll";
// Path of the bridge calls on the library's host (same origin as the pages).
inline constexpr const char* kBridgePath = "/.kbr-bridge";

// Registers the scheme (secure, local, host syntax). Must run before the application object is
// made; later calls do nothing.
void RegisterResScheme();

class ResSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override;
};

}  // namespace kbr
