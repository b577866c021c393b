#pragma once
// The serial driver: one program-wide record, an opening with fixed line settings, a
// reader thread that moves input into the receive ring, bounded writes, and closing.
// It neither raises nor logs; results say what happened.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace brek {

using THandle = std::intptr_t;
inline constexpr THandle INVALID_HANDLE_VALUE = -1;

// The line settings, laid out as the platform's 28-byte DCB record.
struct DCB {
  std::uint32_t DCBlength = 0;
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;  // bit 0 fBinary; every flow-control, DTR and RTS bit clear
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0, XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  char XonChar = 0, XoffChar = 0, ErrorChar = 0, EofChar = 0, EvtChar = 0;
  std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28, "DCB must keep the platform's layout");

struct COMSTAT {
  std::uint32_t Flags = 0;
  std::uint32_t cbInQue = 0;  // bytes waiting in the system's input queue
  std::uint32_t cbOutQue = 0;
};

inline constexpr std::uint32_t OutQueueSize = 4096;
inline constexpr std::uint32_t EV_RXCHAR = 0x0001, EV_TXEMPTY = 0x0004, EV_CTS = 0x0008, EV_DSR = 0x0010;
// How long a write may wait for the device to take its bytes.
inline constexpr int kWriteTimeoutMs = 2000;

struct TCommDrvRec {
  THandle Handle = INVALID_HANDLE_VALUE;
  std::int32_t PortNumber = 0;
  DCB Dcb;
  COMSTAT ComStat;
  std::thread ReaderThread;
  std::uint8_t* InpBuf = nullptr;  // the ring; owned by the port object
  std::int32_t InpBufSize = 0;
  // Shared with the reader thread. Changes of ReceivedBytes and StartInInpBuf from either
  // side go through RingMutex, so the reader's addition and the consumer's take never
  // interleave or get lost.
  std::atomic<std::int32_t> ReceivedBytes{0};
  std::atomic<std::int32_t> StartInInpBuf{0};
  std::atomic<bool> InpBufRead{false};
  std::atomic<bool> Stop{false};
  std::mutex RingMutex;
  std::function<void()> OnReceive;  // runs on the reader thread
  // The device is gone (hung up, unplugged): once an opening, on the reader thread. Our own
  // closing is not reported.
  std::function<void()> OnGone;
  std::atomic<bool> Gone{false};
  std::atomic<std::uint64_t> Arrived{0};  // every byte stored, over all openings
  // The system asks for the device now (Windows: a query to remove it): called on the
  // window's thread, returns once the device is closed or a bound passed.
  std::function<void()> OnLetGoNow;
  // A write of this opening gave up: its closing throws away what the driver still holds
  // and does not wait for it. The port's thread's own.
  bool DiscardOnClose = false;

  // Platform state of the current opening.
  THandle WakeHandle = INVALID_HANDLE_VALUE;  // wakes the reader when closing
  bool ExclusiveSet = false;                 // this opening made the device exclusive
  THandle ReaderEvent = INVALID_HANDLE_VALUE;  // the reader's overlapped event (Windows)
  THandle RoomHandle = INVALID_HANDLE_VALUE;   // room made in a full ring (Windows)
  bool FineTimer = false;  // the reader holds a 1 ms system tick while replies come (Windows)
  // The system's notices about the open device go to a window (Windows): this opening's
  // registration, 0 when none. Read by the window's thread. One whose handle was closed for a
  // query to remove the device is kept until the query's outcome comes.
  std::atomic<std::intptr_t> DeviceNotice{0};
  std::atomic<std::intptr_t> QueriedNotice{0};
};

// A probe's answer for one port: free to be opened, held by another program, or neither
// (absent, refused, our own closing still under way).
enum class TProbe : std::uint8_t { Free, Held, Refused };

// The one record of the program.
extern TCommDrvRec CommDrv;

bool CommOpen(TCommDrvRec& rec);
void CommClose(TCommDrvRec& rec);
// Bytes written; returns after the device took them or kWriteTimeoutMs passed. A write
// that gave up part-way drops what it left queued.
std::uint32_t CommWrite(THandle handle, const std::uint8_t* bytes, std::uint32_t count);
// After a write that gave up: what the driver still holds for the device is thrown away, now
// or, where the driver keeps it until then, when the port is let go of (the closing does not
// wait for it). False when the driver keeps it anyway: it may still reach the device.
bool CommDiscard(TCommDrvRec& rec);
void CommSetQueues(TCommDrvRec& rec);
std::uint32_t CommReader(TCommDrvRec& rec);
std::uint32_t CommRead(TCommDrvRec& rec, std::uint8_t* address, std::uint32_t count);

// Steps of the reader after a wake-up with input queued: limit to the free space, store in
// one or two pieces through read (which returns the bytes it got), count them, and notify
// unless the consumer is busy. Shared by every backend.
using CommReadFn = std::function<std::uint32_t(std::uint8_t* address, std::uint32_t count)>;
std::uint32_t CommStoreInput(TCommDrvRec& rec, std::uint32_t queued, const CommReadFn& read);

// The end of a bounded write, shared by every backend: written of count bytes are with the
// system. Looks at the output the device has not taken (queued; nothing when the look
// failed: the device is gone) until none is left or pause says the bound passed, drops what
// is left, and returns the bytes the device took. A write whose look failed took nothing.
using CommQueuedFn = std::function<std::optional<std::uint32_t>()>;
std::uint32_t CommDrainWrite(std::uint32_t count, std::uint32_t written, const CommQueuedFn& queued,
                             const std::function<bool()>& pause, const std::function<void()>& dropOutput);

// How the Windows reader waits for input. WaitCommEvent answers at once on real drivers:
// the reader waits in it, except where it has been seen not to work on this handle: it
// failed at once (Wine on a pty), or left input queued unanswered (Wine on a real tty
// notices input 7 to 20 ms late, where the dialogue's next reply is due in 2 ms). There the
// queue is looked at instead while replies come. Replies come for kRepliesForMs after an
// input; only then is the 1 ms system tick held. Times in ms on any steady clock.
class CommWaitPace {
 public:
  static constexpr std::uint64_t kRepliesForMs = 200;
  // Answers in time, looked behind, that prove the wait. A late wait that polls for input
  // every P ms answers within one look now and then: not ten times in a row.
  static constexpr int kTrustAfter = 10;

  void Stored(std::uint64_t nowMs) {
    lastInput_ = nowMs;
    anyInput_ = true;
  }
  void WaitFailedAtOnce() { failsAtOnce_ = true; }
  void WaitPending() { failsAtOnce_ = false; }
  void AnsweredLate() { late_ = true; }
  void AnsweredInTime() { ++onTime_; }

  bool RepliesComing(std::uint64_t nowMs) const { return anyInput_ && nowMs - lastInput_ < kRepliesForMs; }
  std::uint64_t RepliesLeftMs(std::uint64_t nowMs) const {
    return RepliesComing(nowMs) ? kRepliesForMs - (nowMs - lastInput_) : 0;
  }
  // Look at the queue instead of waiting.
  bool LookAtQueue(std::uint64_t nowMs) const { return RepliesComing(nowMs) && (late_ || failsAtOnce_); }
  // Wait, but look behind the wait now and then: input queued that it leaves unanswered is
  // a late wait.
  bool LookBehindWait(std::uint64_t nowMs) const {
    return RepliesComing(nowMs) && !late_ && onTime_ < kTrustAfter;
  }

 private:
  std::uint64_t lastInput_ = 0;
  bool anyInput_ = false;
  bool failsAtOnce_ = false;
  bool late_ = false;
  int onTime_ = 0;
};

// Another place for the bytes to go, for simulated panels: while one is installed every
// driver call goes to it instead of the system's ports.
class CommBackend {
 public:
  virtual ~CommBackend() = default;
  virtual bool Open(TCommDrvRec& rec) = 0;
  virtual void Close(TCommDrvRec& rec) = 0;
  virtual std::uint32_t Write(THandle handle, const std::uint8_t* bytes, std::uint32_t count) = 0;
  virtual TProbe Probe(std::int32_t number) = 0;
  virtual bool Discard(TCommDrvRec& rec) {
    (void)rec;
    return true;
  }
};
void SetCommBackend(CommBackend* backend);
CommBackend* CurrentCommBackend();

// The exclusive-open test of a port, made exactly as CommOpen opens it; it also tells
// another program's hold from a port that is not there.
TProbe CommProbe(std::int32_t number);

// Platform: the system's ports.
bool SystemCommOpen(TCommDrvRec& rec);
void SystemCommClose(TCommDrvRec& rec);
std::uint32_t SystemCommWrite(THandle handle, const std::uint8_t* bytes, std::uint32_t count);
TProbe SystemCommProbe(std::int32_t number);
bool SystemCommDiscard(TCommDrvRec& rec);

// The consumer's side of the ring, each change atomic with respect to the reader.
void CommTakeBytes(TCommDrvRec& rec, std::int32_t count);   // start += count, received -= count
void CommRingRestart(TCommDrvRec& rec);                     // the start back at the block's beginning
// Platform: a reader that waits for room in a full ring goes on (the consumer made some).
void CommWakeReader(TCommDrvRec& rec);
// The closing's emptying of the ring: nothing held, nothing being read.
void CommEmptyRing(TCommDrvRec& rec);
// A closing that the system may hold (a device that no longer takes the output queued for
// it) runs on a thread of its own, inline when no thread can be had; until it ends the
// device, named as the platform names it, is neither opened nor probed.
void CloseOnItsOwn(const std::string& device, std::function<void()> close);
bool StillClosing(const std::string& device);

// The reader's word that the device is gone: raised once an opening, never while closing.
void CommReportGone(TCommDrvRec& rec);

// Steps 7 and 8 of an opening: the record's flags cleared, the reader started; false when
// no thread could be had.
bool CommStartReader(TCommDrvRec& rec);

}  // namespace brek
