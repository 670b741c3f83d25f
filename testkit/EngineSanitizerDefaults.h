#pragma once
// Include in exactly one source file of each program that hosts Qt WebEngine: settings for
// AddressSanitizer in such programs (asan preset). The engine's libraries are not instrumented.
//
// - new_delete_type_mismatch=0: the engine deletes some of its own objects with a size other than
//   the one they were allocated with (every frame of the report is in libQt6WebEngineCore); the
//   check cannot be limited to one library, so it is off in these programs (the other test
//   programs keep it).
// - malloc_context_size=2: an allocation's stack is kept down to the allocating function only,
//   so the leak suppressions (cmake/sanitizers/lsan.supp) name libraries that allocated, never
//   ones whose callback ran our code. Reports of bad accesses keep their full stack; only the
//   "allocated by" and "freed by" parts are short here.

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0:malloc_context_size=2"; }
#endif
