// The driver on the Windows communications API: "\\.\COMn" opened exclusively with
// overlapped I/O, a reader that waits in WaitCommEvent, bounded overlapped writes.
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
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
// An idle wait looks at the queue this often: some CDC drivers raise no event for input
// that was already queued when the wait began, and it would sit until the next byte.
constexpr DWORD kIdleWaitCapMs = 100;
// How long an operation may take to end after CancelIoEx. One the system still holds then
// keeps its record and bytes (they are left to it, never reused).
constexpr DWORD kCancelBoundMs = 250;

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

// Set when the system asks for the open device (a query to remove it): the running write
// ends at once and no other starts until the next opening. Never closed.
HANDLE LetGoEvent() {
  static const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return event;
}
bool LetGoAsked() { return LetGoEvent() && WaitForSingleObject(LetGoEvent(), 0) == WAIT_OBJECT_0; }

// An overlapped write and the bytes it hands over, both kept until the system ends it.
struct WriteOp {
  OVERLAPPED ov{};
  std::vector<std::uint8_t> bytes;
  WriteOp() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~WriteOp() {
    if (ov.hEvent) CloseHandle(ov.hEvent);
  }
};

// The reader's wait: its record and the event mask the system fills in.
struct ReaderOp {
  OVERLAPPED ov{};
  DWORD events = 0;
};

// The end of an operation after CancelIoEx, within kCancelBoundMs: whether it succeeded
// (done gets its count), or nothing when the system still holds it.
std::optional<bool> EndedAfterCancel(HANDLE device, OVERLAPPED& ov, DWORD& done) {
  if (WaitForSingleObject(ov.hEvent, kCancelBoundMs) != WAIT_OBJECT_0) return std::nullopt;
  return GetOverlappedResult(device, &ov, &done, FALSE) != FALSE;
}

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

// The rest of a pending WaitCommEvent: its answer, the closing, or input queued that it
// leaves unanswered (looked for on every time-out: at least every kIdleWaitCapMs, more often
// until the wait has proved itself), which ends it as late. Returns the events to act on;
// nothing when the system kept the wait past its cancel.
std::optional<DWORD> AwaitEvent(TCommDrvRec& rec, ReaderOp& op, CommWaitPace& pace) {
  const HANDLE h = H(rec.Handle);
  OVERLAPPED& ov = op.ov;
  HANDLE both[2] = {ov.hEvent, H(rec.WakeHandle)};
  bool late = false;
  bool lookedBehind = false;
  bool cancelled = false;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    HoldFineTick(rec, rec.FineTimer && pace.RepliesComing(now));
    const bool lookBehind = pace.LookBehindWait(now);
    DWORD timeout = kIdleWaitCapMs;
    if (lookBehind)
      timeout = kLateCheckMs;
    else if (rec.FineTimer)  // then the tick is let go of
      timeout = std::min(timeout, static_cast<DWORD>(pace.RepliesLeftMs(now)));
    const DWORD woke = WaitForMultipleObjects(2, both, FALSE, timeout);
    if (woke == WAIT_TIMEOUT) {
      if (Queued(rec) > 0 && WaitForSingleObject(ov.hEvent, kLateGraceMs) != WAIT_OBJECT_0) {
        late = cancelled = true;
        CancelIoEx(h, &ov);
        break;
      }
      continue;
    }
    // The closing's SetCommMask(0) normally completes the wait; a driver that does not
    // is cancelled once the wake event says the port is closing.
    if (woke != WAIT_OBJECT_0) {
      CancelIoEx(h, &ov);
      cancelled = true;
    }
    lookedBehind = lookBehind;
    break;
  }
  DWORD unused = 0;
  const std::optional<bool> answered = cancelled ? EndedAfterCancel(h, ov, unused)  // signalled: it has ended
                                                 : GetOverlappedResult(h, &ov, &unused, FALSE) != FALSE;
  if (!answered) return std::nullopt;
  ResetEvent(ov.hEvent);
  if (late) {
    pace.AnsweredLate();
    return EV_RXCHAR;  // what is queued is taken now
  }
  if (!*answered) return 0;  // whether the device is gone, ClearCommError tells
  if (lookedBehind && (op.events & EV_RXCHAR)) pace.AnsweredInTime();
  return op.events;
}

}  // namespace

void CommSetNoticeWindow(void* window) { gNoticeWindow = static_cast<HWND>(window); }

bool CommDeviceNotice(TCommDrvRec& rec, std::uintptr_t wParam, std::intptr_t lParam) {
  if (lParam == 0) return false;
  const auto* notice = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam);
  if (notice->dbch_devicetype != DBT_DEVTYP_HANDLE || notice->dbch_size < offsetof(DEV_BROADCAST_HANDLE, dbch_eventguid))
    return false;
  std::intptr_t registration = reinterpret_cast<std::intptr_t>(notice->dbch_hdevnotify);
  if (registration == 0) return false;
  if (registration == rec.QueriedNotice.load()) {
    // The outcome of a query we let go for. Refused by another program: the device stays,
    // and the device list hears of it to look again (not ours to answer).
    if (wParam == DBT_DEVICEQUERYREMOVE) return true;  // asked again: nothing is open
    if (wParam != DBT_DEVICEQUERYREMOVEFAILED && wParam != DBT_DEVICEREMOVEPENDING && wParam != DBT_DEVICEREMOVECOMPLETE)
      return false;
    if (rec.QueriedNotice.compare_exchange_strong(registration, 0))
      UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(registration));
    return wParam != DBT_DEVICEQUERYREMOVEFAILED;
  }
  if (wParam != DBT_DEVICEQUERYREMOVE && wParam != DBT_DEVICEREMOVEPENDING && wParam != DBT_DEVICEREMOVECOMPLETE)
    return false;
  if (registration != rec.DeviceNotice.load()) return false;
  // Asked to let go (a query) or already gone: either way the port is lost.
  CommReportGone(rec);
  if (wParam != DBT_DEVICEQUERYREMOVE) return true;
  // Windows removes the device only once every handle to it is closed: the running write is
  // ended and the handle closed before this returns (or the removal is vetoed). The
  // registration is kept for the query's outcome.
  if (rec.DeviceNotice.compare_exchange_strong(registration, 0)) {
    if (const std::intptr_t older = rec.QueriedNotice.exchange(registration))
      UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(older));
  }
  if (LetGoEvent()) SetEvent(LetGoEvent());
  if (rec.OnLetGoNow) rec.OnLetGoNow();
  return true;
}

bool SystemCommOpen(TCommDrvRec& rec) {
  if (StillClosing(DeviceName(rec.PortNumber))) return false;
  if (LetGoEvent()) ResetEvent(LetGoEvent());  // a query to remove was about an earlier opening
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
  // As on POSIX: output is cleared only after a write gave up or with output still queued;
  // otherwise it could only drop what Wine's pty has passed on but its other side not read yet.
  const bool discard = rec.DiscardOnClose || QueuedOutput(H(rec.Handle)) > 0;
  PurgeComm(H(rec.Handle), discard ? kPurgeAll : PURGE_RXABORT | PURGE_RXCLEAR);
  CommEmptyRing(rec);
  CloseDevice(rec);
}

std::uint32_t SystemCommWrite(THandle handle, const std::uint8_t* bytes, std::uint32_t count) {
  if (handle == kClosed || count == 0 || !bytes || LetGoAsked()) return 0;
  // One operation for the writing thread's writes, kept: WriteFile resets its event as it
  // starts, and making and closing one per command cost two system calls each (under
  // Wine, two server round trips). One the system keeps past its cancel is left to it.
  thread_local std::unique_ptr<WriteOp> op;
  if (!op) op = std::make_unique<WriteOp>();
  if (!op->ov.hEvent) return 0;
  const HANDLE event = op->ov.hEvent;
  op->ov = OVERLAPPED{};
  op->ov.hEvent = event;
  op->bytes.assign(bytes, bytes + count);
  // One bound for the write and the device's taking of it.
  const ULONGLONG deadline = GetTickCount64() + kWriteTimeoutMs;
  DWORD written = 0;
  if (!WriteFile(H(handle), op->bytes.data(), count, &written, &op->ov)) {
    written = 0;
    if (GetLastError() == ERROR_IO_PENDING) {
      HANDLE ends[2] = {event, LetGoEvent()};
      if (WaitForMultipleObjects(ends[1] ? 2 : 1, ends, FALSE, kWriteTimeoutMs) == WAIT_OBJECT_0) {
        GetOverlappedResult(H(handle), &op->ov, &written, FALSE);
      } else {
        CancelIoEx(H(handle), &op->ov);
        // What went out before the cancel.
        if (!EndedAfterCancel(H(handle), op->ov, written)) {
          written = 0;
          op.release();  // NOLINT: the system's now
        }
      }
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
        if (GetTickCount64() >= deadline || LetGoAsked()) return false;
        if (!SetPreciseTimer(drainTimer, 1) || WaitForSingleObject(drainTimer, 2) != WAIT_OBJECT_0) Sleep(1);
        return true;
      },
      [handle] { PurgeComm(H(handle), PURGE_TXABORT | PURGE_TXCLEAR); });
}

bool SystemCommDiscard(TCommDrvRec& rec) {
  if (rec.Handle == kClosed) return true;  // nothing held
  rec.DiscardOnClose = true;
  const HANDLE h = H(rec.Handle);
  PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
  const std::optional<std::uint32_t> left = OutputLeft(h);
  return !left || *left == 0;  // thrown away, or the device is gone with it
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
  // Its wait's record outlives the reader when the system keeps a cancelled wait.
  auto op = std::make_unique<ReaderOp>();
  OVERLAPPED& ov = op->ov;
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
    DWORD& events = op->events;
    events = 0;
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
      const std::optional<DWORD> answer = AwaitEvent(rec, *op, pace);
      if (!answer) {
        // A driver that keeps a cancelled wait: its record is the system's now, and no
        // further wait or read can be made with it. The port is as good as gone.
        op.release();  // NOLINT: the system's now
        CommReportGone(rec);
        break;
      }
      events = *answer;
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

TProbe SystemCommProbe(std::int32_t number) {
  if (StillClosing(DeviceName(number))) return TProbe::Refused;  // our own closing is no other's hold
  HANDLE h = OpenDevice(number);
  if (h == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_SHARING_VIOLATION ? TProbe::Held
                                                                                               : TProbe::Refused;
  CloseHandle(h);
  return TProbe::Free;
}

}  // namespace brek
