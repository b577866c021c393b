// The driver on the Windows communications API: "\\.\COMn" opened exclusively with
// overlapped I/O, a reader that waits in WaitCommEvent, bounded overlapped writes.
#include <atomic>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

#include "serial/ComPortDrv.h"
#include "serial/win32/DeviceNotice.h"

#include <windows.h>
#include <dbt.h>
#include <timeapi.h>

#include "common/win32/PreciseTimer.h"

namespace brek {
namespace {

constexpr THandle kClosed = static_cast<THandle>(-1);
constexpr DWORD kOpenMask = 0x1D;  // received character, output empty, CTS, DSR
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR;
// Where the wait answers late or not at all, the queue is looked at every quarter of a
// millisecond while replies come (CommWaitPace).
constexpr double kPollMs = 0.25;
constexpr DWORD kPollFallbackMs = 1;  // where no waitable timer can be had
// Where WaitCommEvent fails at once (Wine on a pty; a vanished device), a quiet line is
// looked at every 10 ms. Every pause is woken early by the closing: no spin, no stall.
constexpr DWORD kFailedWaitPauseMs = 10;
// Until the wait has proved itself, a pending wait is looked behind this often while
// replies come: input queued and no answer within kLateGraceMs is a late wait.
constexpr DWORD kLateCheckMs = 3;
constexpr DWORD kLateGraceMs = 1;
// While the ring is full the reader waits for the consumer's word that it made room (the
// system raises no event for input it already holds); it looks this often all the same.
constexpr DWORD kFullRingRecheckMs = 100;

// Errors of a read that say the device is gone (they differ by driver). Some errors also
// come from a live device (ERROR_GEN_FAILURE on a stalled pipe, ERROR_OPERATION_ABORTED
// on a power transition's cancel): those are not here; a gone device also fails
// ClearCommError, which decides.
bool ReadSaysGone(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_IO_DEVICE:
    case 433:  // ERROR_NO_SUCH_DEVICE, missing from these headers
      return true;
    default:
      return false;
  }
}

HANDLE H(THandle h) { return reinterpret_cast<HANDLE>(h); }
THandle T(HANDLE h) { return reinterpret_cast<THandle>(h); }

std::string DeviceName(std::int32_t number) { return "\\\\.\\COM" + std::to_string(number); }

HANDLE OpenDevice(std::int32_t number) {
  return CreateFileA(DeviceName(number).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, nullptr);
}

::DCB ToSystemDcb(const brek::DCB& d) {
  static_assert(sizeof(::DCB) == sizeof(brek::DCB), "the record keeps the system's layout");
  ::DCB out;
  std::memcpy(&out, &d, sizeof out);
  return out;
}

void CloseEvent(THandle& h) {
  if (h != kClosed) CloseHandle(H(h));
  h = kClosed;
}

// Output the device has not taken; nothing when ClearCommError fails, which it does not
// on a live handle: the device is gone.
std::optional<std::uint32_t> OutputLeft(HANDLE h) {
  DWORD errors = 0;
  ::COMSTAT stat{};
  if (!ClearCommError(h, &errors, &stat)) return std::nullopt;
  return stat.cbOutQue;
}
DWORD QueuedOutput(HANDLE h) { return OutputLeft(h).value_or(0); }

std::atomic<HWND> gNoticeWindow{nullptr};

// The system's notices about this device, to the window: a removal that the device-list
// notice announces late or never (a panel re-enumerated under the same COM number).
void WatchDevice(TCommDrvRec& rec) {
  const HWND window = gNoticeWindow.load();
  if (!window) return;
  DEV_BROADCAST_HANDLE filter{};
  filter.dbch_size = sizeof filter;
  filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
  filter.dbch_handle = H(rec.Handle);
  rec.DeviceNotice = reinterpret_cast<std::intptr_t>(RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

void CloseDevice(TCommDrvRec& rec) {
  HANDLE device = H(rec.Handle);
  rec.Handle = kClosed;
  if (const std::intptr_t notice = rec.DeviceNotice.exchange(0))
    UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(notice));
  CloseEvent(rec.WakeHandle);
  CloseEvent(rec.RoomHandle);
  CloseEvent(rec.ReaderEvent);
  if (QueuedOutput(device) == 0) {
    CloseHandle(device);
    return;
  }
  // Output a device no longer takes (a panel that stopped reading) can hold the closing in
  // the system: under Wine, Linux's cdc_acm waits 30 s for it. The handle goes on its own.
  CloseOnItsOwn(DeviceName(rec.PortNumber), [device] { CloseHandle(device); });
}

// An event of the opening; false when the system has none to give (the port then fails
// to open rather than open without a reader that can wait).
bool MakeEvent(THandle& h, BOOL manualReset) {
  HANDLE e = CreateEventA(nullptr, manualReset, FALSE, nullptr);
  h = e ? T(e) : kClosed;
  return e != nullptr;
}

// Input the system holds for the reader. ClearCommError does not fail on a live handle:
// when it does, the device is gone.
DWORD Queued(TCommDrvRec& rec) {
  DWORD errors = 0;
  ::COMSTAT stat{};
  if (ClearCommError(H(rec.Handle), &errors, &stat)) return stat.cbInQue;
  CommReportGone(rec);
  return 0;
}

// The 1 ms system tick, held by the reader while replies come: the dialogue's 10 ms input
// timer and its 5 and 50 ms waits would round up to the 15.6 ms tick otherwise. Held for
// longer, it costs battery for nothing.
void HoldFineTick(TCommDrvRec& rec, bool hold) {
  if (hold == rec.FineTimer) return;
  if (hold) {
    rec.FineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
  } else {
    timeEndPeriod(1);
    rec.FineTimer = false;
  }
}

// The rest of a pending WaitCommEvent whose event mask goes to events: its answer, the
// closing, or input queued that it leaves unanswered (looked for until the wait has
// proved itself), which ends it as late. Returns the events to act on.
DWORD AwaitEvent(TCommDrvRec& rec, OVERLAPPED& ov, DWORD& events, CommWaitPace& pace) {
  const HANDLE h = H(rec.Handle);
  HANDLE both[2] = {ov.hEvent, H(rec.WakeHandle)};
  bool late = false;
  bool lookedBehind = false;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    HoldFineTick(rec, rec.FineTimer && pace.RepliesComing(now));
    const bool lookBehind = pace.LookBehindWait(now);
    DWORD timeout = INFINITE;
    if (lookBehind)
      timeout = kLateCheckMs;
    else if (rec.FineTimer)
      timeout = static_cast<DWORD>(pace.RepliesLeftMs(now));  // then the tick is let go of
    const DWORD woke = WaitForMultipleObjects(2, both, FALSE, timeout);
    if (woke == WAIT_TIMEOUT) {
      if (lookBehind && Queued(rec) > 0 && WaitForSingleObject(ov.hEvent, kLateGraceMs) != WAIT_OBJECT_0) {
        late = true;
        CancelIoEx(h, &ov);
        break;
      }
      continue;
    }
    // The closing's SetCommMask(0) normally completes the wait; a driver that does not
    // is cancelled once the wake event says the port is closing.
    if (woke != WAIT_OBJECT_0) CancelIoEx(h, &ov);
    lookedBehind = lookBehind;
    break;
  }
  DWORD unused = 0;
  const bool answered = GetOverlappedResult(h, &ov, &unused, TRUE);
  ResetEvent(ov.hEvent);
  if (late) {
    pace.AnsweredLate();
    return EV_RXCHAR;  // what is queued is taken now
  }
  if (!answered) return 0;  // whether the device is gone, ClearCommError tells
  if (lookedBehind && (events & EV_RXCHAR)) pace.AnsweredInTime();
  return events;
}

}  // namespace

void CommSetNoticeWindow(void* window) { gNoticeWindow = static_cast<HWND>(window); }

bool CommDeviceNotice(TCommDrvRec& rec, std::uintptr_t wParam, std::intptr_t lParam) {
  if ((wParam != DBT_DEVICEQUERYREMOVE && wParam != DBT_DEVICEREMOVECOMPLETE) || lParam == 0) return false;
  const auto* notice = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam);
  if (notice->dbch_devicetype != DBT_DEVTYP_HANDLE || notice->dbch_size < offsetof(DEV_BROADCAST_HANDLE, dbch_eventguid))
    return false;
  const std::intptr_t ours = rec.DeviceNotice.load();
  if (ours == 0 || reinterpret_cast<std::intptr_t>(notice->dbch_hdevnotify) != ours) return false;
  // Asked to let go (a query) or already gone: either way the port is lost.
  CommReportGone(rec);
  return true;
}

bool SystemCommOpen(TCommDrvRec& rec) {
  if (StillClosing(DeviceName(rec.PortNumber))) return false;
  HANDLE h = OpenDevice(rec.PortNumber);
  if (h == INVALID_HANDLE_VALUE) return false;
  rec.Handle = T(h);
  bool ok = SetCommMask(h, kOpenMask);
  if (ok) ok = SetupComm(h, static_cast<DWORD>(rec.InpBufSize), OutQueueSize);
  if (ok) ok = PurgeComm(h, kPurgeAll);
  if (ok) {
    ::DCB dcb = ToSystemDcb(rec.Dcb);
    ok = SetCommState(h, &dcb);
  }
  if (ok) ok = MakeEvent(rec.WakeHandle, TRUE);
  if (ok) ok = MakeEvent(rec.RoomHandle, FALSE);
  if (ok) ok = MakeEvent(rec.ReaderEvent, TRUE);
  if (!ok) {
    CloseDevice(rec);
    return false;
  }
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
  SetCommTimeouts(h, &timeouts);
  WatchDevice(rec);
  if (!CommStartReader(rec)) {
    CloseDevice(rec);
    return false;
  }
  return true;
}

void SystemCommClose(TCommDrvRec& rec) {
  if (rec.Handle == kClosed) return;
  rec.Stop = true;
  SetCommMask(H(rec.Handle), 0);  // completes the reader's pending wait
  SetEvent(H(rec.WakeHandle));    // and ends its pause after a failed wait
  // The reader must be gone before the handle is closed or the ring freed.
  if (rec.ReaderThread.joinable()) rec.ReaderThread.join();
  // As on POSIX: with nothing queued for the device, clearing output could only drop what
  // Wine's pty has passed on but its other side not read yet.
  PurgeComm(H(rec.Handle), QueuedOutput(H(rec.Handle)) > 0 ? kPurgeAll : PURGE_RXABORT | PURGE_RXCLEAR);
  CommEmptyRing(rec);
  CloseDevice(rec);
}

std::uint32_t SystemCommWrite(THandle handle, const std::uint8_t* bytes, std::uint32_t count) {
  if (handle == kClosed || count == 0 || !bytes) return 0;
  // One event for the writing thread's writes, kept: WriteFile resets it as it starts, and
  // making and closing one per command cost two system calls each (under Wine, two
  // server round trips).
  thread_local const HANDLE writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED ov{};
  ov.hEvent = writeEvent;
  if (!ov.hEvent) return 0;
  // One bound for the write and the device's taking of it.
  const ULONGLONG deadline = GetTickCount64() + kWriteTimeoutMs;
  DWORD written = 0;
  if (!WriteFile(H(handle), bytes, count, &written, &ov)) {
    written = 0;
    if (GetLastError() == ERROR_IO_PENDING) {
      if (WaitForSingleObject(ov.hEvent, kWriteTimeoutMs) != WAIT_OBJECT_0) CancelIoEx(H(handle), &ov);
      // After a cancel this collects what went out before it.
      GetOverlappedResult(H(handle), &ov, &written, TRUE);
    }
  }
  // WriteFile completes once the driver holds the bytes, not when the device took them
  // (cdc_acm under Wine): wait for that within the same bound, or the close's purge right
  // after "reset" could take it back. The looks are a millisecond apart on the precise
  // clock: the system tick is 15.6 ms while no replies come.
  thread_local const HANDLE drainTimer = MakePreciseTimer();
  return CommDrainWrite(
      count, written, [handle] { return OutputLeft(H(handle)); },
      [deadline] {
        if (GetTickCount64() >= deadline) return false;
        if (!SetPreciseTimer(drainTimer, 1) || WaitForSingleObject(drainTimer, 2) != WAIT_OBJECT_0) Sleep(1);
        return true;
      },
      [handle] { PurgeComm(H(handle), PURGE_TXABORT | PURGE_TXCLEAR); });
}

void CommWakeReader(TCommDrvRec& rec) {
  if (rec.RoomHandle != kClosed) SetEvent(H(rec.RoomHandle));
}

void CommSetQueues(TCommDrvRec& rec) {
  if (rec.Handle != kClosed) SetupComm(H(rec.Handle), static_cast<DWORD>(rec.InpBufSize), OutQueueSize);
}

namespace {
thread_local OVERLAPPED* gReaderOverlapped = nullptr;  // the reader's own record

// A failed read: the device is gone when its error says so, or, for a cancel (also seen
// on a live device), when ClearCommError fails too.
void ReadFailed(TCommDrvRec& rec, DWORD error) {
  if (ReadSaysGone(error))
    CommReportGone(rec);
  else if (error == ERROR_OPERATION_ABORTED)
    Queued(rec);
}
}  // namespace

std::uint32_t CommRead(TCommDrvRec& rec, std::uint8_t* address, std::uint32_t count) {
  if (count == 0 || !gReaderOverlapped) return 0;
  OVERLAPPED& ov = *gReaderOverlapped;
  DWORD got = 0;
  if (!ReadFile(H(rec.Handle), address, count, &got, &ov)) {
    got = 0;
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      ReadFailed(rec, error);
      return 0;
    }
    if (!GetOverlappedResult(H(rec.Handle), &ov, &got, TRUE)) {
      ReadFailed(rec, GetLastError());
      return 0;
    }
    ResetEvent(ov.hEvent);
  }
  return got;
}

std::uint32_t CommReader(TCommDrvRec& rec) {
  OVERLAPPED ov{};
  ov.hEvent = H(rec.ReaderEvent);  // made by the opening, so a port never opens without it
  gReaderOverlapped = &ov;
  HANDLE h = H(rec.Handle);
  CommWaitPace pace;
  const HANDLE pause = MakePreciseTimer();
  const CommReadFn read = [&rec](std::uint8_t* at, std::uint32_t count) { return CommRead(rec, at, count); };
  while (!rec.Stop) {
    if (rec.ReceivedBytes.load() >= rec.InpBufSize) {
      // No room: what is queued waits in the system until the consumer makes some.
      HANDLE either[2] = {H(rec.WakeHandle), H(rec.RoomHandle)};
      WaitForMultipleObjects(2, either, FALSE, kFullRingRecheckMs);
      if (rec.Stop) break;
      if (rec.ReceivedBytes.load() >= rec.InpBufSize) continue;
      rec.ComStat.cbInQue = Queued(rec);
      if (rec.ComStat.cbInQue > 0) CommStoreInput(rec, rec.ComStat.cbInQue, read);
      continue;
    }
    const ULONGLONG now = GetTickCount64();
    HoldFineTick(rec, pace.RepliesComing(now));
    DWORD events = 0;
    if (pace.LookAtQueue(now)) {
      // Replies coming and no wait that keeps up with them: look at the queue on the
      // precise clock instead.
      HANDLE wakeOrPause[2] = {H(rec.WakeHandle), pause};
      if (SetPreciseTimer(pause, kPollMs))
        WaitForMultipleObjects(2, wakeOrPause, FALSE, kPollFallbackMs);
      else
        WaitForSingleObject(H(rec.WakeHandle), kPollFallbackMs);
      events = rec.Stop ? 0 : EV_RXCHAR;  // what is queued, if anything, is taken below
    } else if (WaitCommEvent(h, &events, &ov)) {
      pace.WaitPending();  // answered at once
    } else if (GetLastError() == ERROR_IO_PENDING) {
      pace.WaitPending();
      events = AwaitEvent(rec, ov, events, pace);
    } else {
      // No wait to be had on this handle, or the device is gone (the look below tells):
      // pause, never spin, then take what is queued as an arrival.
      pace.WaitFailedAtOnce();
      WaitForSingleObject(H(rec.WakeHandle), kFailedWaitPauseMs);
      events = rec.Stop ? 0 : EV_RXCHAR;
    }
    rec.ComStat.cbInQue = Queued(rec);
    if (rec.Stop) break;
    if (!(events & EV_RXCHAR)) continue;
    if (CommStoreInput(rec, rec.ComStat.cbInQue, read) > 0) pace.Stored(GetTickCount64());
  }
  HoldFineTick(rec, false);
  if (pause) CloseHandle(pause);
  gReaderOverlapped = nullptr;
  return 0;
}

bool SystemCommProbe(std::int32_t number) {
  if (StillClosing(DeviceName(number))) return false;
  HANDLE h = OpenDevice(number);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

}  // namespace brek
