#pragma once
// A waitable timer kept to its time below the system's tick: high-resolution on Windows 10
// 1803 and later, a plain one elsewhere (precise to the tick, 1 ms while a port is open).
#include <windows.h>

namespace brek {

inline HANDLE MakePreciseTimer() {
  constexpr DWORD kHighResolution = 0x2;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, not in MinGW's headers
  const HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
  return timer ? timer : CreateWaitableTimerW(nullptr, FALSE, nullptr);
}

// Signals the timer once, that many milliseconds (fractions kept) from now.
inline bool SetPreciseTimer(HANDLE timer, double ms) {
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(ms * 10000.0) - 1;  // relative, in 100 ns
  return timer && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
}

}  // namespace brek
