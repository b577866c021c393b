// The platform-free half of the driver: the record and the consumer's ring updates.
#include "serial/ComPortDrv.h"

#include <algorithm>
#include <set>
#include <system_error>

namespace brek {

TCommDrvRec CommDrv;

namespace {
std::atomic<CommBackend*> gBackend{nullptr};

// Never destroyed: a closing thread may outlive main.
std::mutex& ClosingMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::set<std::string>& Closing() {
  static auto* s = new std::set<std::string>;
  return *s;
}

}  // namespace

void CloseOnItsOwn(const std::string& device, std::function<void()> close) {
  {
    std::lock_guard lock(ClosingMutex());
    Closing().insert(device);
  }
  auto closing = [device, close = std::move(close)] {
    close();
    std::lock_guard lock(ClosingMutex());
    Closing().erase(device);
  };
  try {
    std::thread(closing).detach();
  } catch (const std::system_error&) {
    closing();  // no thread to be had: wait, then
  }
}

bool StillClosing(const std::string& device) {
  std::lock_guard lock(ClosingMutex());
  return Closing().count(device) != 0;
}

void SetCommBackend(CommBackend* backend) { gBackend = backend; }
CommBackend* CurrentCommBackend() { return gBackend; }

bool CommOpen(TCommDrvRec& rec) {
  if (CommBackend* b = gBackend) return b->Open(rec);
  return SystemCommOpen(rec);
}

void CommClose(TCommDrvRec& rec) {
  if (CommBackend* b = gBackend) return b->Close(rec);
  SystemCommClose(rec);
}

std::uint32_t CommWrite(THandle handle, const std::uint8_t* bytes, std::uint32_t count) {
  if (CommBackend* b = gBackend) return b->Write(handle, bytes, count);
  return SystemCommWrite(handle, bytes, count);
}

bool CommDiscard(TCommDrvRec& rec) {
  if (CommBackend* b = gBackend) return b->Discard(rec);
  return SystemCommDiscard(rec);
}

TProbe CommProbe(std::int32_t number) {
  if (CommBackend* b = gBackend) return b->Probe(number);
  return SystemCommProbe(number);
}

std::uint32_t CommStoreInput(TCommDrvRec& rec, std::uint32_t queued, const CommReadFn& read) {
  const std::int32_t size = rec.InpBufSize;
  std::int32_t received = 0;
  std::int32_t p = 0;
  {
    // The write position and the free space from one snapshot: the consumer's take moves
    // the start and the count together, and two separate loads could straddle it.
    std::lock_guard lock(rec.RingMutex);
    received = rec.ReceivedBytes.load();
    p = rec.StartInInpBuf.load() + received;
  }
  std::int32_t n = static_cast<std::int32_t>(queued);
  if (received + n >= size) n = size - received;  // never more than the free space
  if (rec.Stop || n <= 0) return 0;
  if (p >= size) p -= size;
  std::uint32_t got = 0;
  if (p + n < size) {
    got = read(rec.InpBuf + p, static_cast<std::uint32_t>(n));
  } else {
    const std::int32_t first = size - p;
    got = read(rec.InpBuf + p, static_cast<std::uint32_t>(first));
    // A short first piece ends the storing for this wake-up.
    if (got == static_cast<std::uint32_t>(first) && n - first > 0)
      got += read(rec.InpBuf, static_cast<std::uint32_t>(n - first));
  }
  if (rec.Stop || got == 0) return 0;
  bool notify = true;
  {
    std::lock_guard lock(rec.RingMutex);
    received = rec.ReceivedBytes.fetch_add(static_cast<std::int32_t>(got)) + static_cast<std::int32_t>(got);
    rec.Arrived += got;
    // A consumer busy with the ring gets no notice; a ring it fills meanwhile is full, not
    // emptied: the reader waits for room as at any other time.
    if (rec.InpBufRead) notify = false;
  }
  if (notify && rec.OnReceive) rec.OnReceive();
  return got;
}

std::uint32_t CommDrainWrite(std::uint32_t count, std::uint32_t written, const CommQueuedFn& queued,
                             const std::function<bool()>& pause, const std::function<void()>& dropOutput) {
  std::optional<std::uint32_t> left = written > 0 ? queued() : std::optional<std::uint32_t>(0);
  while (left && *left > 0 && pause()) left = queued();
  // A device gone meanwhile (a failed look) may have lost any part of it: the write is cut.
  const std::uint32_t notTaken = left ? std::min(*left, written) : written;
  // What the device has not taken never reaches it whole: dropped (a command cut short must
  // not be joined to the next one) and not counted as written.
  if (written < count || notTaken > 0) dropOutput();
  return written - notTaken;
}

void CommTakeBytes(TCommDrvRec& rec, std::int32_t count) {
  std::lock_guard lock(rec.RingMutex);
  const std::int32_t held = rec.ReceivedBytes.load();
  if (count > held) count = held;  // never more than is held
  if (count <= 0) return;
  std::int32_t start = rec.StartInInpBuf.load() + count;
  if (rec.InpBufSize > 0) start %= rec.InpBufSize;
  rec.StartInInpBuf.store(start);
  rec.ReceivedBytes.store(held - count);
  // The reader stopped taking input when the ring filled; with the system's queue full
  // too, no further byte would ever come to wake it.
  if (held >= rec.InpBufSize) CommWakeReader(rec);
}

void CommReportGone(TCommDrvRec& rec) {
  if (rec.Stop || rec.Gone.exchange(true)) return;
  if (rec.OnGone) rec.OnGone();
}

bool CommStartReader(TCommDrvRec& rec) {
  rec.Stop = false;
  rec.Gone = false;
  rec.DiscardOnClose = false;
  rec.InpBufRead = false;
  rec.ReceivedBytes = 0;
  rec.StartInInpBuf = 0;
  try {
    rec.ReaderThread = std::thread([&rec] { CommReader(rec); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void CommEmptyRing(TCommDrvRec& rec) {
  std::lock_guard lock(rec.RingMutex);
  rec.InpBufRead = false;
  rec.ReceivedBytes = 0;
  rec.StartInInpBuf = 0;
}

void CommRingRestart(TCommDrvRec& rec) {
  // The take already wrapped the start to the ring's beginning. Moving it anywhere else
  // would move what a reader is storing at the position it computed from the old start.
  std::lock_guard lock(rec.RingMutex);
  const std::int32_t start = rec.StartInInpBuf.load();
  if (rec.InpBufSize > 0 && start >= rec.InpBufSize) rec.StartInInpBuf.store(start % rec.InpBufSize);
}

}  // namespace brek
