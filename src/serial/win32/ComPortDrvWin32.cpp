// The driver on the Windows communications API: "\\.\COMn" opened exclusively with
// overlapped I/O, a reader that waits in WaitCommEvent on a quiet line, bounded overlapped writes.
#include <cstring>
#include <string>
#include <system_error>

#include "serial/ComPortDrv.h"

#include <windows.h>
#include <timeapi.h>

#include "common/win32/PreciseTimer.h"

namespace brek {
namespace {

constexpr THandle kClosed = static_cast<THandle>(-1);
constexpr DWORD kOpenMask = 0x1D;  // received character, output empty, CTS, DSR
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// While replies come (input within the last 200 ms) the reader does not wait in
// WaitCommEvent but looks at the queue every quarter of a millisecond on a waitable timer:
// Wine notices input on a real tty 7 to 20 ms late (it polls for serial events), where the
// dialogue's next reply is due in 2 ms. A quiet line is waited on. Where WaitCommEvent fails at
// once (a vanished device; Wine on a pty) a quiet line is looked at every 10 ms. Every pause
// is woken early by the closing: no spin, no stall.
constexpr DWORD kFailedWaitPauseMs = 10;
constexpr DWORD kFailedWaitPauseBusyMs = 1;  // where no waitable timer can be had
constexpr double kBusyPauseMs = 0.25;
constexpr ULONGLONG kBusyForMs = 200;
// While the ring is full the reader waits for the consumer's word that it made room (the
// system raises no event for input it already holds); it looks this often all the same.
constexpr DWORD kFullRingRecheckMs = 100;

// The errors a device gives its reader and writer once it is removed (they differ by
// driver). ERROR_OPERATION_ABORTED also ends our own close's cancel: that one is not
// reported, as the closing has set Stop by then.
bool DeviceGoneError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
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

DWORD QueuedOutput(HANDLE h) {
  DWORD errors = 0;
  ::COMSTAT stat{};
  return ClearCommError(h, &errors, &stat) ? stat.cbOutQue : 0;
}

void CloseDevice(TCommDrvRec& rec) {
  HANDLE device = H(rec.Handle);
  rec.Handle = kClosed;
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

// Input the system holds for the reader; a failure that says the device is gone is reported.
DWORD Queued(TCommDrvRec& rec) {
  DWORD errors = 0;
  ::COMSTAT stat{};
  if (ClearCommError(H(rec.Handle), &errors, &stat)) return stat.cbInQue;
  if (DeviceGoneError(GetLastError())) CommReportGone(rec);
  return 0;
}

}  // namespace

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
  if (!CommStartReader(rec)) {
    CloseDevice(rec);
    return false;
  }
  // The system tick (15.6 ms) would round up every 10 ms input timer and 5 or 50 ms wait
  // of the dialogue: a 1 ms tick while the panel's port is open.
  rec.FineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
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
  if (rec.FineTimer) timeEndPeriod(1);
  rec.FineTimer = false;
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
  // after "reset" could take it back.
  DWORD queued = written > 0 ? QueuedOutput(H(handle)) : 0;
  while (queued > 0 && GetTickCount64() < deadline) {
    Sleep(1);
    queued = QueuedOutput(H(handle));
  }
  // What the device has not taken never reaches it whole: dropped (a command cut short
  // must not be joined to the next one) and not counted as written.
  const DWORD left = queued < written ? queued : written;
  if (written < count || left > 0) PurgeComm(H(handle), PURGE_TXABORT | PURGE_TXCLEAR);
  return written - left;
}

void CommWakeReader(TCommDrvRec& rec) {
  if (rec.RoomHandle != kClosed) SetEvent(H(rec.RoomHandle));
}

void CommSetQueues(TCommDrvRec& rec) {
  if (rec.Handle != kClosed) SetupComm(H(rec.Handle), static_cast<DWORD>(rec.InpBufSize), OutQueueSize);
}

namespace {
thread_local OVERLAPPED* gReaderOverlapped = nullptr;  // the reader's own record
}

std::uint32_t CommRead(TCommDrvRec& rec, std::uint8_t* address, std::uint32_t count) {
  if (count == 0 || !gReaderOverlapped) return 0;
  OVERLAPPED& ov = *gReaderOverlapped;
  DWORD got = 0;
  if (!ReadFile(H(rec.Handle), address, count, &got, &ov)) {
    got = 0;
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      if (DeviceGoneError(error)) CommReportGone(rec);
      return 0;
    }
    if (!GetOverlappedResult(H(rec.Handle), &ov, &got, TRUE)) {
      if (DeviceGoneError(GetLastError())) CommReportGone(rec);
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
  ULONGLONG lastInput = 0;
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
    DWORD events = 0;
    const bool busy = GetTickCount64() - lastInput < kBusyForMs;
    bool failed = false;
    if (busy) {
      // looked at below, not waited on
    } else if (WaitCommEvent(h, &events, &ov)) {
      // completed at once
    } else if (GetLastError() == ERROR_IO_PENDING) {
      // The closing's SetCommMask(0) normally completes the wait; a driver that does not
      // is cancelled once the wake event says the port is closing.
      HANDLE both[2] = {ov.hEvent, H(rec.WakeHandle)};
      if (WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0) CancelIoEx(h, &ov);
      DWORD unused = 0;
      failed = !GetOverlappedResult(h, &ov, &unused, TRUE);
      if (failed) {
        events = 0;
        if (DeviceGoneError(GetLastError())) CommReportGone(rec);
      }
      ResetEvent(ov.hEvent);
    } else {
      failed = true;
      if (DeviceGoneError(GetLastError())) CommReportGone(rec);
    }
    if ((busy || failed) && !rec.Stop) {
      // Replies coming, or no wait to be had: pause, never spin, then take what is queued
      // as an arrival.
      HANDLE wakeOrPause[2] = {H(rec.WakeHandle), pause};
      if (busy && SetPreciseTimer(pause, kBusyPauseMs))
        WaitForMultipleObjects(2, wakeOrPause, FALSE, kFailedWaitPauseBusyMs);
      else
        WaitForSingleObject(H(rec.WakeHandle), busy ? kFailedWaitPauseBusyMs : kFailedWaitPauseMs);
      events = rec.Stop ? 0 : EV_RXCHAR;  // what is queued, if anything, is taken below
    }
    rec.ComStat.cbInQue = Queued(rec);
    if (rec.Stop) break;
    if (!(events & EV_RXCHAR)) continue;
    if (CommStoreInput(rec, rec.ComStat.cbInQue, read) > 0) lastInput = GetTickCount64();
  }
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
