// On Windows the browser-engine boundary uses the system's own types; the result codes, host flags
// and message box values that the host keeps for every system must be the system's values.
#include "browser/HostTypes.h"

#include <gtest/gtest.h>

namespace kbr {
namespace {

static_assert(KBR_S_OK == S_OK && KBR_S_FALSE == S_FALSE);
static_assert(KBR_E_NOTIMPL == E_NOTIMPL && KBR_E_FAIL == E_FAIL && KBR_E_INVALIDARG == E_INVALIDARG &&
              KBR_E_OUTOFMEMORY == E_OUTOFMEMORY);
static_assert(KBR_DISP_E_EXCEPTION == DISP_E_EXCEPTION && KBR_DISP_E_UNKNOWNNAME == DISP_E_UNKNOWNNAME);
static_assert(HOSTFLAG_NO3DBORDER == DOCHOSTUIFLAG_NO3DBORDER && HOSTFLAG_SCROLL_NO == DOCHOSTUIFLAG_SCROLL_NO &&
              HOSTFLAG_THEME == DOCHOSTUIFLAG_THEME);
static_assert(MBOX_OK == MB_OK && MBOX_OKCANCEL == MB_OKCANCEL && MBOX_ABORTRETRYIGNORE == MB_ABORTRETRYIGNORE &&
              MBOX_YESNOCANCEL == MB_YESNOCANCEL && MBOX_YESNO == MB_YESNO && MBOX_RETRYCANCEL == MB_RETRYCANCEL);
static_assert(MBOX_ICONHAND == MB_ICONHAND && MBOX_ICONQUESTION == MB_ICONQUESTION &&
              MBOX_ICONEXCLAMATION == MB_ICONEXCLAMATION && MBOX_ICONASTERISK == MB_ICONASTERISK);
static_assert(ANSWER_OK == IDOK && ANSWER_CANCEL == IDCANCEL && ANSWER_ABORT == IDABORT && ANSWER_RETRY == IDRETRY &&
              ANSWER_IGNORE == IDIGNORE && ANSWER_YES == IDYES && ANSWER_NO == IDNO);

TEST(HostTypes, TaskMemoryIsTheSystemsOwn) {
    void* block = TaskMemAlloc(64);
    ASSERT_NE(block, nullptr);
    // A block of the system's task allocator: the system can grow it, and ours frees it.
    void* bigger = ::CoTaskMemRealloc(block, 128);
    ASSERT_NE(bigger, nullptr);
    TaskMemFree(bigger);
}

}  // namespace
}  // namespace kbr
