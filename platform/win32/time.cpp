// Tick counts, wall-clock and local time, Sleep.
#include <sys/time.h>
#include <time.h>

#include "handle_table.h"

namespace {

void FillSystemTime(const struct tm& t, long milliseconds, LPSYSTEMTIME out) {
  out->wYear = static_cast<WORD>(t.tm_year + 1900);
  out->wMonth = static_cast<WORD>(t.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  out->wDay = static_cast<WORD>(t.tm_mday);
  out->wHour = static_cast<WORD>(t.tm_hour);
  out->wMinute = static_cast<WORD>(t.tm_min);
  out->wSecond = static_cast<WORD>(t.tm_sec);
  out->wMilliseconds = static_cast<WORD>(milliseconds);
}

}  // namespace

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(w32::MonotonicMs()); }

ULONGLONG WINAPI GetTickCount64(void) { return w32::MonotonicMs(); }

namespace {

void Now(bool local, LPSYSTEMTIME out) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t {};
  if (local) {
    localtime_r(&ts.tv_sec, &t);
  } else {
    gmtime_r(&ts.tv_sec, &t);
  }
  FillSystemTime(t, ts.tv_nsec / 1000000, out);
}

}  // namespace

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) { Now(true, lpSystemTime); }

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) { Now(false, lpSystemTime); }

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
  // 100-nanosecond intervals since 1601-01-01.
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t value =
      (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100u;
  lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(value);
  lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  timespec ts{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}
