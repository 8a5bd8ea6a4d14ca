#pragma once
// Checked rules: what a function relies on and no comment can enforce, such
// as "the caller holds the library lock" or "this runs on the worker
// thread". Active in Debug, sanitizer and fuzz builds (MESHDROP_CHECKED); a
// broken rule prints where and aborts. In release builds they cost nothing.

#include <windows.h>

#if defined(MESHDROP_CHECKED)

[[noreturn]] void cpAssertFailed(const char* condition, const char* file, int line);

#define MESHDROP_ASSERT(condition) ((condition) ? (void)0 : cpAssertFailed(#condition, __FILE__, __LINE__))

#else

#define MESHDROP_ASSERT(condition) ((void)0)

#endif

// The given cpCMutex (or an object with IsHeldByCurrentThread) is held by
// the calling thread; a null lock is not checked (objects made by tests
// without a network runtime have none).
#define MESHDROP_ASSERT_LOCKED(lock) MESHDROP_ASSERT((lock) == nullptr || (lock)->IsHeldByCurrentThread())

// The calling thread is the given one; 0 (not yet known) is not checked.
#define MESHDROP_ASSERT_THREAD(threadId) MESHDROP_ASSERT((threadId) == 0 || (threadId) == GetCurrentThreadId())
