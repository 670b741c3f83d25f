#pragma once
// The interface through which a page window's browser host reaches the window: the engine's UI
// requests with their defaults (results kept as the platform codes), plus the page's commands
// (OnAppCommand) and the binding of its first document (OnDocumentReady).
//
// Qt WebEngine has no equivalent for most of the engine requests; HtmlPage (HtmlCtrl.h) routes
// to them what it has:
//   GetHostInfo        -> no scroll bars (ShowScrollBars off) when HOSTFLAG_SCROLL_NO is set; the
//                         view has no frame of its own either way
//   GetOptionKeyPath   -> names the page window's browser profile ("Software\CHtmlDialog")
//   ShowMessage        -> every script alert()/confirm() box, titled "Caption", no owner
//   ShowContextMenu    -> E_NOTIMPL: the engine's own menu is shown
//   TranslateAccelerator -> S_FALSE: keys go to the engine
// The others keep their defaults for a Windows host and are not called on Qt.
//
// The default ShowMessage shows its box through the MessageBoxes the window was made with (its
// program's services), so a page's boxes go where every other box of the program goes.

#include "browser/AppCommand.h"
#include "browser/HostTypes.h"

namespace kbr {

class MessageBoxes;

class HtmlHostEvents {
public:
    explicit HtmlHostEvents(MessageBoxes& boxes) : boxes_(boxes) {}
    virtual ~HtmlHostEvents() = default;

    virtual HRESULT OnDocWindowActivate(BOOL activate);
    virtual HRESULT EnableModeless(BOOL enable);
    virtual HRESULT FilterDataObject(IDataObject* in, IDataObject** out);
    virtual HRESULT OnFrameWindowActivate(BOOL activate);
    virtual HRESULT GetDropTarget(IDropTarget* in, IDropTarget** out);
    virtual HRESULT GetExternal(IDispatch** out);
    virtual HRESULT GetHostInfo(DOCHOSTUIINFO* info);
    // *key: a TaskMemAlloc'd copy of "Software\CHtmlDialog" (free with TaskMemFree).
    virtual HRESULT GetOptionKeyPath(LPOLESTR* key, DWORD reserved);
    virtual HRESULT HideUI();
    virtual HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow);
    virtual HRESULT ShowContextMenu(DWORD id, POINT* point, IUnknown* commandTarget, IDispatch* object);
    virtual HRESULT ShowUI(DWORD id, IOleInPlaceActiveObject* activeObject, IOleCommandTarget* commandTarget,
                           IOleInPlaceFrame* frame, IOleInPlaceUIWindow* document);
    virtual HRESULT TranslateAccelerator(LPMSG message, const GUID* group, DWORD commandId);
    virtual HRESULT TranslateUrl(DWORD translate, OLECHAR* urlIn, OLECHAR** urlOut);
    virtual HRESULT UpdateUI();
    virtual HRESULT ShowHelp(HWND window, LPOLESTR helpFile, UINT command, DWORD data, POINT mouse, IDispatch* object);
    // A box with no owner, the engine's text, the fixed title "Caption" (the engine's caption is not
    // used) and the engine's style bits; *result := the answer (ANSWER_OK, ...).
    virtual HRESULT ShowMessage(HWND window, LPOLESTR text, LPOLESTR caption, DWORD type, LPOLESTR helpFile,
                                DWORD helpContext, LRESULT* result);

    // A page command; `command` is valid only during the call. Default: nothing.
    virtual void OnAppCommand(const AppCommand& command);
    // The control bound its first document (title and script). Default: nothing.
    virtual void OnDocumentReady();

private:
    MessageBoxes& boxes_;
};

// The option key handed to the engine.
inline constexpr char16_t OPTION_KEY_PATH[] = u"Software\\CHtmlDialog";

}  // namespace kbr
