#pragma once
// The `res` URL scheme: serves res://PgPack.dll/NAME from the page library and carries the page
// bridge (see PageBridge.h).

#include <QPointer>
#include <QWebEngineUrlSchemeHandler>

namespace kbr {

class HostServices;
class PageBridge;

inline constexpr const char* RES_SCHEME = "res";
inline constexpr const char* PAGE_LIBRARY_HOST = "pgpack.dll";
// Path of the bridge calls on the library's host (same origin as the pages).
inline constexpr const char* BRIDGE_PATH = "/.kbr-bridge";

// Registers the scheme (secure only, host syntax). Must run before the application object is
// made; later calls do nothing.
void RegisterResScheme();

// Everything the engine needs before the application object exists: the `res` scheme, shared GL
// contexts, and --no-sandbox added to QTWEBENGINE_CHROMIUM_FLAGS when running as root (Chromium's
// sandbox refuses root; it is never turned off otherwise). Remote debugging is left to Qt's own
// QTWEBENGINE_REMOTE_DEBUGGING, which the program never sets.
void PrepareBrowserEngine();

// The handler of one control's profile: pages from the services' page library, bridge calls to
// that control's bridge.
class ResSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    ResSchemeHandler(HostServices& services, PageBridge* bridge, QObject* parent);
    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    HostServices& services_;
    QPointer<PageBridge> bridge_;
};

}  // namespace kbr
