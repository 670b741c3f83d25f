#include "browser/HtmlHostEvents.h"

#include "widgets/MessageBox.h"

#include <QString>

#include <cstring>

namespace kbr {

HRESULT HtmlHostEvents::OnDocWindowActivate(BOOL) { return KBR_E_NOTIMPL; }
HRESULT HtmlHostEvents::EnableModeless(BOOL) { return KBR_E_NOTIMPL; }
HRESULT HtmlHostEvents::FilterDataObject(IDataObject*, IDataObject** out) {
    if (out) *out = nullptr;
    return KBR_E_NOTIMPL;
}
HRESULT HtmlHostEvents::OnFrameWindowActivate(BOOL) { return KBR_E_NOTIMPL; }
HRESULT HtmlHostEvents::GetDropTarget(IDropTarget*, IDropTarget**) { return KBR_E_NOTIMPL; }
HRESULT HtmlHostEvents::GetExternal(IDispatch** out) {
    if (out) *out = nullptr;
    return KBR_E_NOTIMPL;
}

HRESULT HtmlHostEvents::GetHostInfo(DOCHOSTUIINFO* info) {
    if (!info) return KBR_E_INVALIDARG;
    info->dwFlags = HOSTFLAG_NO3DBORDER | HOSTFLAG_SCROLL_NO | HOSTFLAG_THEME;
    info->dwDoubleClick = 0;
    return KBR_S_OK;
}

HRESULT HtmlHostEvents::GetOptionKeyPath(LPOLESTR* key, DWORD) {
    if (!key) return KBR_E_INVALIDARG;
    const size_t bytes = sizeof(OPTION_KEY_PATH);  // 2 x length + 2: with its terminator
    auto* copy = static_cast<OLECHAR*>(TaskMemAlloc(bytes));
    if (!copy) {
        *key = nullptr;
        return KBR_E_OUTOFMEMORY;
    }
    std::memcpy(copy, OPTION_KEY_PATH, bytes);
    *key = copy;
    return KBR_S_OK;
}

HRESULT HtmlHostEvents::HideUI() { return KBR_S_OK; }
HRESULT HtmlHostEvents::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return KBR_E_NOTIMPL; }
HRESULT HtmlHostEvents::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) { return KBR_E_NOTIMPL; }
HRESULT HtmlHostEvents::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                               IOleInPlaceUIWindow*) {
    return KBR_E_NOTIMPL;
}
HRESULT HtmlHostEvents::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return KBR_S_FALSE; }
HRESULT HtmlHostEvents::TranslateUrl(DWORD, OLECHAR*, OLECHAR**) { return KBR_E_NOTIMPL; }
HRESULT HtmlHostEvents::UpdateUI() { return KBR_S_OK; }
HRESULT HtmlHostEvents::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) { return KBR_E_NOTIMPL; }

HRESULT HtmlHostEvents::ShowMessage(HWND, LPOLESTR text, LPOLESTR, DWORD type, LPOLESTR, DWORD, LRESULT* result) {
    const QString message = text ? QString::fromUtf16(text) : QString();
    const int answer = boxes_.ShowBox({nullptr, message, QStringLiteral("Caption"), type});
    if (result) *result = answer;
    return KBR_S_OK;
}

void HtmlHostEvents::OnAppCommand(const AppCommand&) {}
void HtmlHostEvents::OnDocumentReady() {}

}  // namespace kbr
