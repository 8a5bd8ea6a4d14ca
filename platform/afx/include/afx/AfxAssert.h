#pragma once
// The framework's ASSERT: checked in Debug, sanitizer and fuzz builds
// (MESHDROP_CHECKED), where a broken rule prints where and aborts; nothing
// in release builds.

#if defined(MESHDROP_CHECKED)

[[noreturn]] void AfxAssertFailed(const char* condition, const char* file, int line);

#define ASSERT(condition) ((condition) ? (void)0 : AfxAssertFailed(#condition, __FILE__, __LINE__))

#else

#define ASSERT(condition) ((void)0)

#endif
