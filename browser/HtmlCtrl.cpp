#include "browser/HtmlCtrl.h"

#include "browser/AppCommand.h"
#include "browser/ResScheme.h"

#include <QAction>
#include <QBuffer>
#include <QChildEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QMenu>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrlQuery>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>

#include <cstdio>
#include <utility>

namespace kbr {
namespace {

// The compatibility script of every document. @TOKEN@ is the control's token; only documents
// served by the `res` scheme get it.
constexpr const char* kBridgeScript = R"JS((function () {
'use strict';
if (window.__kbrHost) return;
Object.defineProperty(window, '__kbrHost', { value: true });
var token = location.protocol === 'res:' ? '@TOKEN@' : '';

function VBArray(source) {
    if (!(this instanceof VBArray)) return new VBArray(source);
    var items = source instanceof VBArray ? source.toArray()
              : (source && typeof source.length === 'number') ? Array.prototype.slice.call(source) : [];
    Object.defineProperty(this, '_items', { value: items });
}
function checkDimension(d) {
    if (d !== undefined && d !== 1) throw new RangeError('Subscript out of range');
}
VBArray.prototype.toArray = function () { return this._items.slice(); };
VBArray.prototype.getItem = function (i) {
    if (typeof i !== 'number' || i < 0 || i >= this._items.length || i % 1 !== 0) throw new RangeError('Subscript out of range');
    return this._items[i];
};
VBArray.prototype.lbound = function (d) { checkDimension(d); return 0; };
VBArray.prototype.ubound = function (d) { checkDimension(d); return this._items.length - 1; };
VBArray.prototype.dimensions = function () { return 1; };
window.VBArray = VBArray;

// The program's page calls, each with its sequence number: `ranTo` is the last one run through
// __kbrRun (they come in order), `outcomes` holds the outcomes of those run from a bridge answer
// until the program reads them, so a call that reaches the page both ways runs once.
var calls = { ranTo: 0, outcomes: Object.create(null) };
function runCall(name, args, asArray) {
    var f = window[name];
    if (typeof f !== 'function') return { ran: false };
    try {
        var r = asArray ? f.call(window, new VBArray(args)) : f.apply(window, args);
        return { ran: true, result: typeof r === 'string' ? r : '' };
    } catch (e) {
        return { ran: false, error: String(e && e.message || e) };
    }
}
Object.defineProperty(window, '__kbrRun', { value: function (seq, name, args, asArray, collectOnly) {
    if (seq in calls.outcomes) {
        var o = calls.outcomes[seq];
        delete calls.outcomes[seq];
        return o;
    }
    if (collectOnly || seq <= calls.ranTo) return { ran: false };
    calls.ranTo = seq;
    return runCall(name, args, asArray);
} });

function call(kind, text) {
    if (!token) return null;
    var xhr = new XMLHttpRequest();
    try {
        xhr.open('GET', '/.kbr-bridge?t=' + token + '&k=' + kind + '&a=' + encodeURIComponent(String(text)), false);
        xhr.send(null);
    } catch (e) {
        console.error('bridge call failed: ' + e);
        return null;
    }
    var answer = null;
    try { answer = JSON.parse(xhr.responseText); } catch (e) { return null; }
    apply(answer.calls || []);
    return answer;
}
function apply(list) {
    var errors = [];
    for (var i = 0; i < list.length; ++i) {
        var c = list[i];
        if (c.s <= calls.ranTo || c.s in calls.outcomes) continue;  // already run here
        var o = runCall(c.f, c.v || c.a || [], !!c.v);
        if (o.error) {
            errors.push(c.f + ': ' + o.error);
            o = { ran: false };  // reported below, once
        }
        calls.outcomes[c.s] = o;
    }
    // After the whole answer, so calls the program makes while a box is open come after it.
    for (var k = 0; k < errors.length; ++k) call('error', errors[k]);
}
window.navigate = function (url) {
    url = String(url);
    if (url.length >= 4 && url.substring(0, 4).toLowerCase() === 'app:') {
        call('app', url);
        return;
    }
    location.href = url;
};
if (token) {
    window.alert = function (m) { call('alert', m === undefined ? '' : String(m)); };
    window.confirm = function (m) { var a = call('confirm', m === undefined ? '' : String(m)); return !!(a && a.value); };
    window.prompt = function (m, d) {
        var a = call('prompt', JSON.stringify([m === undefined ? '' : String(m), d === undefined ? '' : String(d)]));
        return a && typeof a.value === 'string' ? a.value : null;
    };
}
})();)JS";

QHash<QString, QPointer<CHtmlCtrl>>& Controls() {
    static QHash<QString, QPointer<CHtmlCtrl>> controls;
    return controls;
}

HtmlPage::FileChooser& FileChooserHook() {
    static HtmlPage::FileChooser chooser;
    return chooser;
}

std::function<void(const QUrl&)>& ExternalOpener() {
    static std::function<void(const QUrl&)> opener = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    return opener;
}

// Keeps page windows off the network and the file system.
class LocalOnlyFilter : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        static const QStringList kRefused = {"http", "https", "ws", "wss", "file", "ftp"};
        if (kRefused.contains(info.requestUrl().scheme(), Qt::CaseInsensitive)) info.block(true);
    }
};

bool IsRemote(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == "http" || scheme == "https" || scheme == "mailto";
}

std::u16string ToU16(const QString& s) { return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), s.size()); }

}  // namespace

// ---- HtmlPage ---------------------------------------------------------------------------------

HtmlPage::HtmlPage(QWebEngineProfile* profile, HtmlHostEvents** events, QObject* parent)
    : QWebEnginePage(profile, parent), events_(events) {
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, Feature feature) {
                setFeaturePermission(origin, feature, PermissionDeniedByUser);
            });
}

void HtmlPage::SetExternalOpener(std::function<void(const QUrl&)> opener) { ExternalOpener() = std::move(opener); }

bool HtmlPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    const QString scheme = url.scheme().toLower();
    if (scheme == kResScheme || url.toString() == "about:blank") return true;
    if (IsRemote(url)) {
        // Script can make a navigation look like a clicked link: only the user's own gesture
        // opens anything outside the program.
        if (type == NavigationTypeLinkClicked && isMainFrame && TakeUserGesture()) {
            // Inside an engine callback: open it from the event loop.
            QTimer::singleShot(0, [url] { ExternalOpener()(url); });
        } else {
            std::fprintf(stderr, "remote link not opened (no click): %s\n", qPrintable(url.toDisplayString()));
        }
        return false;
    }
    // Anything else only when the program itself asked for it (the page never gets the token).
    return type == NavigationTypeTyped && isMainFrame;
}

void HtmlPage::NoteUserGesture() { gestureAt_ = std::chrono::steady_clock::now(); }

bool HtmlPage::TakeUserGesture() {
    const auto at = std::exchange(gestureAt_, std::nullopt);
    return at && std::chrono::steady_clock::now() - *at <= kGestureWindow;
}

QWebEnginePage* HtmlPage::createWindow(WebWindowType) { return nullptr; }

HtmlPage::FileChooser HtmlPage::SetFileChooser(FileChooser chooser) {
    return std::exchange(FileChooserHook(), std::move(chooser));
}

QStringList HtmlPage::chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                                  const QStringList& acceptedMimeTypes) {
    const QStringList chosen = FileChooserHook() ? FileChooserHook()(mode, oldFiles, acceptedMimeTypes)
                                                 : QWebEnginePage::chooseFiles(mode, oldFiles, acceptedMimeTypes);
    // The page sees only the name: remember where the file is, so its commands can name it.
    for (const QString& path : chosen) {
        const QString name = QFileInfo(path).fileName();
        if (name.isEmpty()) continue;
        ChosenFile file{name.toLocal8Bit().toStdString(), QDir::toNativeSeparators(path).toLocal8Bit().toStdString()};
        std::erase_if(chosenFiles_, [&file](const ChosenFile& old) { return old.name == file.name; });
        chosenFiles_.push_back(std::move(file));
        if (chosenFiles_.size() > kMaxChosenFiles) chosenFiles_.erase(chosenFiles_.begin());
    }
    return chosen;
}

void HtmlPage::javaScriptAlert(const QUrl&, const QString& message) {
    if (!Events()) return;
    std::u16string text = ToU16(message);
    LRESULT answer = 0;
    (void)Events()->ShowMessage(nullptr, text.data(), nullptr, MBOX_OK | MBOX_ICONEXCLAMATION, nullptr, 0, &answer);
}

bool HtmlPage::javaScriptConfirm(const QUrl&, const QString& message) {
    if (!Events()) return false;
    std::u16string text = ToU16(message);
    LRESULT answer = 0;
    (void)Events()->ShowMessage(nullptr, text.data(), nullptr, MBOX_OKCANCEL | MBOX_ICONQUESTION, nullptr, 0, &answer);
    return answer == ANSWER_OK;
}

bool HtmlPage::javaScriptPrompt(const QUrl&, const QString& message, const QString& defaultValue, QString* result) {
    bool ok = false;
    const QString text = QInputDialog::getText(nullptr, QStringLiteral("Caption"), message, QLineEdit::Normal,
                                               defaultValue, &ok);
    if (ok && result) *result = text;
    return ok;
}

void HtmlPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                        const QString& source) {
    if (level == ErrorMessageLevel) {
        std::fprintf(stderr, "page script error: %s (%s:%d)\n", qPrintable(message), qPrintable(source), line);
    }
}

// ---- CHtmlCtrl --------------------------------------------------------------------------------

CHtmlCtrl::CHtmlCtrl(QWidget* parent) : QWebEngineView(parent) {
    const quint64 a = QRandomGenerator::system()->generate64();
    const quint64 b = QRandomGenerator::system()->generate64();
    token_ = QString::number(a, 16).rightJustified(16, '0') + QString::number(b, 16).rightJustified(16, '0');
    Controls().insert(token_, this);
}

CHtmlCtrl::~CHtmlCtrl() {
    Controls().remove(token_);
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
        profile_ = new QWebEngineProfile(static_cast<QObject*>(nullptr));  // off the record: nothing of it is kept on disk
        if (events_) {
            LPOLESTR key = nullptr;
            if (events_->GetOptionKeyPath(&key, 0) == KBR_S_OK && key) {
                profile_->setObjectName(QString::fromUtf16(key));
                TaskMemFree(key);
            }
        }
        profile_->setUrlRequestInterceptor(new LocalOnlyFilter(profile_));
        handler_ = new ResSchemeHandler(profile_);
        profile_->installUrlSchemeHandler(kResScheme, handler_);
        page_ = new HtmlPage(profile_, &events_, nullptr);

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

        QWebEngineScript script;
        script.setName(QStringLiteral("kbr-bridge"));
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::MainWorld);
        script.setRunsOnSubFrames(false);
        script.setSourceCode(QString::fromUtf8(kBridgeScript).replace(QLatin1String("@TOKEN@"), token_));
        page_->scripts().insert(script);

        setPage(page_);
        connect(page_, &QWebEnginePage::loadFinished, this, &CHtmlCtrl::OnLoadFinished);
        connect(page_, &QWebEnginePage::loadStarted, this, [this] {
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

void CHtmlCtrl::HandleBridgeRequest(QWebEngineUrlRequestJob* job, const ResSchemeHandler* handler) {
    const QUrlQuery query(job->requestUrl());
    const QString token = query.queryItemValue(QStringLiteral("t"));
    const QString kindName = query.queryItemValue(QStringLiteral("k"));
    const QString text = query.queryItemValue(QStringLiteral("a"), QUrl::FullyDecoded);
    const QUrl initiator = job->initiator();
    QPointer<CHtmlCtrl> control = token.isEmpty() ? nullptr : Controls().value(token);
    // Only our own pages: a `res` document of this control. Anything else gets nothing done.
    if (!control || control->handler_ != handler || initiator.scheme() != QLatin1String(kResScheme) ||
        initiator.host().compare(kPageLibraryHost, Qt::CaseInsensitive) != 0) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    BridgeKind kind;
    if (kindName == "app") kind = BridgeKind::App;
    else if (kindName == "alert") kind = BridgeKind::Alert;
    else if (kindName == "confirm") kind = BridgeKind::Confirm;
    else if (kindName == "prompt") kind = BridgeKind::Prompt;
    else if (kindName == "error") kind = BridgeKind::Error;
    else {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    // Never run the command inside the engine's callback: a child page window could not load
    // there. The page stays blocked in its request until the job is answered, from now on: page
    // calls made until then (even before the command starts) go with the answer, in order.
    control->pageScript_.BeginBridgeCall();
    QPointer<QWebEngineUrlRequestJob> pending(job);
    QTimer::singleShot(0, control, [control, pending, kind, text] {
        if (control) control->RunBridgeCall(pending, kind, text);
    });
}

void CHtmlCtrl::RunBridgeCall(QPointer<QWebEngineUrlRequestJob> job, BridgeKind kind, const QString& text) {
    QPointer<CHtmlCtrl> self(this);
    QJsonObject answer;
    switch (kind) {
        case BridgeKind::App: {
            const std::string url = text.toLocal8Bit().toStdString();
            if (auto rest = MatchAppUrl(url)) HandleAppUrl(std::string(*rest).c_str());
            break;
        }
        case BridgeKind::Alert:
        case BridgeKind::Confirm: {
            std::u16string message = ToU16(text);
            LRESULT result = 0;
            const DWORD type = kind == BridgeKind::Alert ? (MBOX_OK | MBOX_ICONEXCLAMATION)
                                                         : (MBOX_OKCANCEL | MBOX_ICONQUESTION);
            if (events_) (void)events_->ShowMessage(nullptr, message.data(), nullptr, type, nullptr, 0, &result);
            if (kind == BridgeKind::Confirm) answer.insert("value", result == ANSWER_OK);
            break;
        }
        case BridgeKind::Prompt: {
            const QJsonArray parts = QJsonDocument::fromJson(text.toUtf8()).array();
            bool ok = false;
            const QString value = QInputDialog::getText(nullptr, QStringLiteral("Caption"), parts.at(0).toString(),
                                                        QLineEdit::Normal, parts.at(1).toString(), &ok);
            answer.insert("value", ok ? QJsonValue(value) : QJsonValue());
            break;
        }
        case BridgeKind::Error:
            std::fprintf(stderr, "script error in %s\n", qPrintable(text));
            PageScript::ReportScriptError(PageScript::SystemErrorText(static_cast<uint32_t>(KBR_DISP_E_EXCEPTION)));
            break;
    }
    if (!self) {  // the window went away with its command
        if (job) job->fail(QWebEngineUrlRequestJob::RequestAborted);
        return;
    }
    // The page may have gone away meanwhile: then the calls made for it end as not run.
    answer.insert("calls", pageScript_.EndBridgeCall(!job.isNull()));
    if (!job) return;
    auto* buffer = new QBuffer(job);
    buffer->setData(QJsonDocument(answer).toJson(QJsonDocument::Compact));
    job->reply("application/json", buffer);
}

}  // namespace kbr
