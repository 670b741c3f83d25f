#pragma once
// The platform types and result codes at the browser-engine boundary. On Windows they are the
// system's own; elsewhere they are small stand-ins with the same values, so HtmlHostEvents keeps
// its operations and results (and stays testable) on every platform.

#include <cstdint>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#include <mshtmhst.h>
#include <objbase.h>
#endif

namespace kbr {

#ifdef _WIN32
using ::BOOL;
using ::DOCHOSTUIINFO;
using ::DWORD;
using ::GUID;
using ::HRESULT;
using ::HWND;
using ::IDataObject;
using ::IDispatch;
using ::IDropTarget;
using ::IOleCommandTarget;
using ::IOleInPlaceActiveObject;
using ::IOleInPlaceFrame;
using ::IOleInPlaceUIWindow;
using ::IUnknown;
using ::LPCRECT;
using ::LPMSG;
using ::LPOLESTR;
using ::LRESULT;
using ::OLECHAR;
using ::POINT;
using ::UINT;
inline void* TaskMemAlloc(size_t size) { return ::CoTaskMemAlloc(size); }
inline void TaskMemFree(void* p) { ::CoTaskMemFree(p); }
#else
using HRESULT = int32_t;
using BOOL = int;
using DWORD = uint32_t;
using UINT = unsigned int;
using LRESULT = intptr_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using HWND = void*;
struct IUnknown;
struct IDispatch;
struct IDataObject;
struct IDropTarget;
struct IOleCommandTarget;
struct IOleInPlaceActiveObject;
struct IOleInPlaceFrame;
struct IOleInPlaceUIWindow;
struct GUID;
struct MSG;
using LPMSG = MSG*;
struct POINT {
    int32_t x = 0;
    int32_t y = 0;
};
struct RECT {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};
using LPCRECT = const RECT*;
struct DOCHOSTUIINFO {
    uint32_t cbSize = sizeof(DOCHOSTUIINFO);
    DWORD dwFlags = 0;
    DWORD dwDoubleClick = 0;
    OLECHAR* pchHostCss = nullptr;
    OLECHAR* pchHostNS = nullptr;
};
// Task memory: what CoTaskMemAlloc/CoTaskMemFree are on Windows.
inline void* TaskMemAlloc(size_t size) { return std::malloc(size); }
inline void TaskMemFree(void* p) { std::free(p); }
#endif

// Result codes, as the platform defines them.
constexpr HRESULT KBR_S_OK = 0;
constexpr HRESULT KBR_S_FALSE = 1;
constexpr HRESULT KBR_E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT KBR_E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT KBR_E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT KBR_E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT KBR_DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
constexpr HRESULT KBR_DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);

// Host flags handed to the engine by GetHostInfo.
constexpr DWORD HOSTFLAG_NO3DBORDER = 0x4;
constexpr DWORD HOSTFLAG_SCROLL_NO = 0x8;
constexpr DWORD HOSTFLAG_THEME = 0x40000;

}  // namespace kbr
