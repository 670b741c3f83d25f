#include "browser/HtmlCtrl.h"

#include "browser/AppCommand.h"
#include "browser/HostServices.h"
#include "browser/ResScheme.h"
#include "browser/StartupTrace.h"

#include <QAction>
#include <QChildEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

#include <cstdio>
#include <utility>

namespace kbr {
namespace {

// Keeps page windows off the network and the file system.
class LocalOnlyFilter : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        static const QStringList REFUSED_SCHEMES = {"http", "https", "ws", "wss", "file", "ftp"};
        if (REFUSED_SCHEMES.contains(info.requestUrl().scheme(), Qt::CaseInsensitive)) info.block(true);
    }
};

bool IsRemote(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == "http" || scheme == "https" || scheme == "mailto";
}

}  // namespace

// ---- HtmlPage ---------------------------------------------------------------------------------

HtmlPage::HtmlPage(QWebEngineProfile* profile, HtmlHostEvents** events, HostServices& services, QObject* parent)
    : QWebEnginePage(profile, parent), events_(events), services_(services) {
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
    });
}

bool HtmlPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    const QString scheme = url.scheme().toLower();
    if (scheme == RES_SCHEME || url.toString() == "about:blank") return true;
    if (IsRemote(url)) {
        // Script can make a navigation look like a clicked link: only the user's own gesture
        // opens anything outside the program.
        if (type == NavigationTypeLinkClicked && isMainFrame && TakeUserGesture()) {
            // Inside an engine callback: ask from the event loop.
            QTimer::singleShot(0, this, [this, url] { OpenIfClickedLink(url); });
        } else {
            std::fprintf(stderr, "remote link not opened (no click): %s\n", qPrintable(url.toDisplayString()));
        }
        return false;
    }
    // Anything else only when the program itself asked for it (the page never gets the token).
    return type == NavigationTypeTyped && isMainFrame;
}

void HtmlPage::NoteUserGesture() { gestureAt_ = std::chrono::steady_clock::now(); }

namespace {

// Lives in CLICKED_LINK_WORLD: the page's own scripts share the document but not this script's
// variables or the DOM functions it uses, so they can neither read nor forge its record. Its
// listener is the first of all (document creation, capturing at the window), so no page listener
// can keep a click from it. Only the user's input makes trusted events.
constexpr quint32 CLICKED_LINK_WORLD = QWebEngineScript::ApplicationWorld;
constexpr const char* CLICKED_LINK_SCRIPT = R"JS(
(function () {
    var clicked = '';
    window.addEventListener('click', function (event) {
        if (!event.isTrusted)
            return;
        var target = event.target;
        var link = (target && target.closest) ? target.closest('a[href]') : null;
        clicked = link ? String(link.href) : '';
    }, true);
    window.kbrTakeClickedLink = function () {
        var href = clicked;
        clicked = '';
        return href;
    };
})();
)JS";

}  // namespace

QWebEngineScript HtmlPage::ClickedLinkScript() {
    QWebEngineScript script;
    script.setName(QStringLiteral("kbr-clicked-link"));
    script.setSourceCode(QString::fromUtf8(CLICKED_LINK_SCRIPT));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(CLICKED_LINK_WORLD);
    script.setRunsOnSubFrames(false);
    return script;
}

void HtmlPage::OpenIfClickedLink(const QUrl& url) {
    runJavaScript(QStringLiteral("typeof kbrTakeClickedLink == 'function' ? kbrTakeClickedLink() : ''"),
                  CLICKED_LINK_WORLD, [self = QPointer<HtmlPage>(this), url](const QVariant& clicked) {
                      if (!self) return;
                      if (QUrl(clicked.toString()) != url) {
                          std::fprintf(stderr, "remote link not opened (not the clicked link): %s\n",
                                       qPrintable(url.toDisplayString()));
                          return;
                      }
                      // Inside an engine callback: open it from the event loop.
                      QTimer::singleShot(0, self, [page = self.data(), url] { page->services_.OpenExternal(url); });
                  });
}

bool HtmlPage::TakeUserGesture() {
    const auto at = std::exchange(gestureAt_, std::nullopt);
    return at && std::chrono::steady_clock::now() - *at <= GESTURE_WINDOW;
}

QWebEnginePage* HtmlPage::createWindow(WebWindowType) { return nullptr; }

QStringList HtmlPage::chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                                  const QStringList& acceptedMimeTypes) {
    const auto engineDialog = [this, mode, oldFiles, acceptedMimeTypes] {
        return QWebEnginePage::chooseFiles(mode, oldFiles, acceptedMimeTypes);
    };
    QStringList chosen = services_.ChooseFiles({mode, oldFiles, acceptedMimeTypes, engineDialog});
    // The page sees only the name: remember where the file is, so its commands can name it.
    for (const QString& path : chosen) {
        const QString name = QFileInfo(path).fileName();
        if (name.isEmpty()) continue;
        ChosenFile file{name.toLocal8Bit().toStdString(), QDir::toNativeSeparators(path).toLocal8Bit().toStdString()};
        std::erase_if(chosenFiles_, [&file](const ChosenFile& old) { return old.name == file.name; });
        chosenFiles_.push_back(std::move(file));
        if (chosenFiles_.size() > MAX_CHOSEN_FILES) chosenFiles_.erase(chosenFiles_.begin());
    }
    return chosen;
}

// The engine's own boxes, for a document the bridge script did not reach: the same boxes as the
// bridge's.
void HtmlPage::javaScriptAlert(const QUrl&, const QString& message) { PageBridge::Alert(Events(), message); }

bool HtmlPage::javaScriptConfirm(const QUrl&, const QString& message) { return PageBridge::Confirm(Events(), message); }

bool HtmlPage::javaScriptPrompt(const QUrl&, const QString& message, const QString& defaultValue, QString* result) {
    const std::optional<QString> text = PageBridge::Prompt(services_, message, defaultValue);
    if (text && result) *result = *text;
    return text.has_value();
}

void HtmlPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                        const QString& source) {
    if (level == ErrorMessageLevel) {
        std::fprintf(stderr, "page script error: %s (%s:%d)\n", qPrintable(message), qPrintable(source), line);
    }
}

// ---- CHtmlCtrl --------------------------------------------------------------------------------

CHtmlCtrl::CHtmlCtrl(HostServices& services, QWidget* parent)
    : QWebEngineView(parent), services_(services), pageScript_(services), bridge_(*this) {}

CHtmlCtrl::~CHtmlCtrl() {
    // The page must go before its profile.
    delete page_;
    page_ = nullptr;
    delete profile_;
}

bool CHtmlCtrl::ReplacePlaceholder(int controlId, QWidget* parentDialog, HtmlHostEvents* events) {
    if (!parentDialog) return false;
    QWidget* placeholder = nullptr;
    for (QWidget* child : parentDialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != this && child->property("controlId").toInt() == controlId) {
            placeholder = child;
            break;
        }
    }
    if (!placeholder) return false;
    const QRect rect = placeholder->geometry();
    delete placeholder;
    events_ = events;
    bound_ = false;  // the next completed document is bound afresh
    binding_ = false;
    inDialog_ = true;
    return Create(parentDialog, rect, controlId);
}

bool CHtmlCtrl::Create(QWidget* parent, const QRect& rect, int controlId) {
    controlId_ = controlId;
    if (!profile_) {
        // Each page window has its own profile: a renderer blocked in a bridge call blocks every
        // page in its process, and a child window must load while its opener waits.
        profile_ =
            new QWebEngineProfile(static_cast<QObject*>(nullptr));  // off the record: nothing of it is kept on disk
        if (events_) {
            LPOLESTR key = nullptr;
            if (events_->GetOptionKeyPath(&key, 0) == KBR_S_OK && key) {
                profile_->setObjectName(QString::fromUtf16(key));
                TaskMemFree(key);
            }
        }
        StartupTrace("browser profile made");
        profile_->setUrlRequestInterceptor(new LocalOnlyFilter(profile_));
        handler_ = new ResSchemeHandler(services_, &bridge_, profile_);
        profile_->installUrlSchemeHandler(RES_SCHEME, handler_);
        page_ = new HtmlPage(profile_, &events_, services_, nullptr);

        QWebEngineSettings* s = page_->settings();
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
        s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, true);
        s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        DOCHOSTUIINFO info{};
        if (events_ && events_->GetHostInfo(&info) == KBR_S_OK) {
            s->setAttribute(QWebEngineSettings::ShowScrollBars, (info.dwFlags & HOSTFLAG_SCROLL_NO) == 0);
        }

        page_->scripts().insert(bridge_.DocumentScript());
        page_->scripts().insert(HtmlPage::ClickedLinkScript());

        setPage(page_);
        StartupTrace("page made, bridge script added");
        connect(page_, &QWebEnginePage::loadFinished, this, &CHtmlCtrl::OnLoadFinished);
        connect(page_, &QWebEnginePage::loadStarted, this, [this] {
            if (!bound_) StartupTrace("first document: load started");
            pageScript_.DocumentStarted();
            pageScript_.ExpectDocument();
        });
        connect(page_, &QWebEnginePage::renderProcessTerminated, this,
                [this](QWebEnginePage::RenderProcessTerminationStatus, int) { pageScript_.RendererEnded(); });
    }
    setParent(parent);
    setGeometry(rect);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    show();
    return true;
}

void CHtmlCtrl::Navigate(const QString& url) {
    if (!page_) return;
    pageScript_.ExpectDocument();
    page_->setUrl(QUrl(url));
}

void CHtmlCtrl::HandleAppUrl(const char* text) {
    if (!events_ || !text) return;
    // An upgrade or image version read names a file the user chose ("C:\fakepath\NAME" to the page).
    const std::string resolved = page_ ? WithChosenFilePath(text, page_->ChosenFiles()) : std::string(text);
    const AppCommand command = ParseAppCommand(resolved);
    events_->OnAppCommand(command);
}

void CHtmlCtrl::OnLoadFinished(bool ok) {
    if (bound_ || binding_) return;  // only the first completed document is bound
    StartupTrace(ok ? "first document: load finished" : "first document: load failed");
    if (!ok) {
        // Calls waiting for a first document that did not come are not run (unless another load
        // is on its way).
        if (!page_->isLoading()) pageScript_.DocumentFailed();
        return;
    }
    binding_ = true;
    // document.title, not the page's title(), which falls back to the URL.
    page_->runJavaScript(QStringLiteral("document.title"), QWebEngineScript::MainWorld,
                         [self = QPointer<CHtmlCtrl>(this)](const QVariant& title) {
                             const QString text = title.toString();
                             QTimer::singleShot(0, self, [self, text] {
                                 if (!self || self->bound_) return;
                                 self->binding_ = false;
                                 self->bound_ = true;
                                 (void)self->pageScript_.BindScript(self->page_);
                                 self->pageTitle_ = text.toLocal8Bit().toStdString();
                                 if (self->events_) self->events_->OnDocumentReady();
                                 StartupTrace("first document: bound, title shown");
                             });
                         });
}

void CHtmlCtrl::contextMenuEvent(QContextMenuEvent* event) {
    // The engine's own menu (ShowContextMenu is not handled), with the window's entries after it.
    QMenu* menu = createStandardContextMenu();
    if (!extraActions_.isEmpty()) {
        menu->addSeparator();
        menu->addActions(extraActions_);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose, true);
    menu->popup(event->globalPos());
}

void CHtmlCtrl::childEvent(QChildEvent* event) {
    if (event->added() && event->child()->isWidgetType()) event->child()->installEventFilter(this);
    QWebEngineView::childEvent(event);
}

bool CHtmlCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (page_) {
        // A click is the button's release; a held key repeats, which is not another gesture.
        if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::TouchEnd) {
            page_->NoteUserGesture();
        } else if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (!key->isAutoRepeat() &&
                (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space)) {
                page_->NoteUserGesture();
            }
        }
    }
    return QWebEngineView::eventFilter(watched, event);
}

}  // namespace kbr
