#pragma once
// TComPortKX: the serial port as the program sees it. The object owns the receive ring and
// brings the reader's notice over to the user-interface thread through a 10 ms one-shot
// input timer. Opening, probing, writing and closing may each wait on the device (a panel
// that stops reading holds a write 2 s; one whose USB side hangs holds every control
// request 5 s), so they run in order on the port's own thread and their outcomes come back
// as events on the user-interface thread: the window never waits on the panel.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "serial/ComPortDrv.h"
#include "common/EventLoop.h"

namespace brek {

inline constexpr std::int32_t DefaultInpBufSize = 4096;
inline constexpr std::uint16_t kStatusNone = 0xFF00, kStatusOpened = 0xFF01, kStatusFailed = 0xFF02;
// Asked to open; the outcome (OnOpen, or kStatusFailed) is still to come.
inline constexpr std::uint16_t kStatusOpening = 0xFF03;
inline constexpr unsigned kInpTimerInterval = 10;
// How long the window waits for the port to be let go of when the system asks for the device.
inline constexpr unsigned kLetGoNowMs = 1000;

// What became of a block handed to PutBlock.
enum class TWritten {
  Whole,          // the device took all of it
  Dropped,        // not taken whole; what the driver held of it is thrown away (at the latest when
                  // the port is let go of)
  MayStillReach,  // not taken whole, and the driver keeps what it holds: it may yet reach the device
};

class TComPortKX {
 public:
  using TNotifyEvent = std::function<void(TComPortKX* sender)>;
  // A block handed to PutBlock has been written, or not (the device did not take it within
  // the write's bound, or is gone): block is the number PutBlock gave it.
  using TWrittenEvent = std::function<void(TComPortKX* sender, std::uint64_t block, TWritten outcome)>;

  explicit TComPortKX(EventLoop& ui, TCommDrvRec& drv = CommDrv);  // Create
  ~TComPortKX();                                                  // Destroy
  TComPortKX(const TComPortKX&) = delete;
  TComPortKX& operator=(const TComPortKX&) = delete;

  TNotifyEvent OnReceiveData;
  TNotifyEvent OnOpen;
  // The device of the open port is gone (the reader saw it hang up): raised once, on the
  // user-interface thread, while the same opening is still active.
  TNotifyEvent OnDeviceGone;
  // Every block handed over, in the order written; also after the port was closed (a write
  // runs before the closing asked after it). Block numbers are never used twice.
  TWrittenEvent OnWritten;
  // A closing asked for has ended: the device is released.
  TNotifyEvent OnClosed;

  void SetActive(bool value);
  // The one answer to "is it open", and what follows from it.
  bool Active() const { return Win_.link != Link::Closed; }
  std::uint16_t Status() const { return Win_.link == Link::Opening ? kStatusOpening : Win_.status; }
  bool Open() const { return Win_.link == Link::Open; }

  // Line settings: a change while Active closes, stores and opens again. Each opening takes
  // the settings as they were when it was asked for.
  std::int32_t PortNumber() const { return Win_.portNumber; }
  void SetPortNumber(std::int32_t value);
  std::int32_t BaudRate() const { return static_cast<std::int32_t>(Win_.dcb.BaudRate); }
  void SetBaudRate(std::int32_t value);
  std::uint8_t ByteSize() const { return Win_.dcb.ByteSize; }
  void SetByteSize(std::int32_t value);
  std::uint8_t StopBits() const { return Win_.dcb.StopBits; }
  void SetStopBits(std::int32_t value);
  std::uint8_t Parity() const { return Win_.dcb.Parity; }
  void SetParity(std::int32_t value);
  std::int32_t InpBufSize() const { return Win_.ringSize; }
  void SetInpBufSize(std::int32_t value);

  // The receive ring, read in place by the consumer. It holds nothing while the port is not
  // open: a closing empties it, and an opening still under way has given it nothing yet.
  const std::uint8_t* InpBuf() const { return Win_.ring.get(); }
  std::int32_t ReceivedBytes() const { return Open() ? Drv_.ReceivedBytes.load() : 0; }
  void SetReceivedBytes(std::int32_t value);
  std::int32_t StartInInpBuf() const { return Drv_.StartInInpBuf.load(); }
  void SetStartInInpBuf(std::int32_t value);
  void SetInpBufRead(bool value);
  // Bytes that have come in since the object was made (a silence is no count change).
  std::uint64_t BytesArrived() const { return Drv_.Arrived.load(); }
  // The consumer's updates as single steps: take count bytes off the front; go back to
  // the start of the block.
  void TakeBytes(std::int32_t count);
  void RestartAtRingStart();

  // Hands a copy of the block to the port's thread and returns its number for OnWritten;
  // 0 when nothing was handed over (the port is not open, or the block is empty). Blocks
  // go out in the order given. Once one was not taken, those already handed over when the
  // port's thread saw it are not tried (reported not written): each would wait 2 s more.
  std::uint64_t PutBlock(const std::uint8_t* bytes, std::int32_t count);
  // The exclusive-open test of each port, on the port's thread (after what was asked of it
  // before); done gets one answer per number (free, held by another program, or neither),
  // on the user-interface thread.
  void Probe(std::vector<std::int32_t> numbers, std::function<void(const std::vector<TProbe>& answers)> done);
  // The system asks for the device (Windows: a query to remove it): the device is closed on
  // the port's thread now, the running write cut short; returns once it is, or after
  // kLetGoNowMs. The state stays as it is until the caller lets go (SetActive(false)).
  void LetGoNow();

  void OnReceivedBytes();  // the driver's notice, on the reader thread
  void OnDriverGone();     // the driver's word that the device is gone, on the reader thread
  void OnInpTimer();       // InpTimer's tick, on the user-interface thread

 private:
  enum class Link { Closed, Opening, Open, Failed };
  // The user-interface thread's own.
  struct Window {
    Link link = Link::Closed;            // Active is any but Closed; Status follows from it
    std::uint16_t status = kStatusNone;  // the last opening's outcome: a closing leaves it
    unsigned openings = 0;               // a word about an earlier opening is not this one's
    std::int32_t portNumber = 0;         // the settings for the next opening
    DCB dcb;
    std::shared_ptr<std::uint8_t[]> ring;
    std::int32_t ringSize = 0;
    std::unique_ptr<Timer> inpTimer;
  };
  // Between the threads: atomics only.
  struct Shared {
    std::atomic<bool> ending{false};           // being destroyed: only the closing is still run
    std::atomic<bool> startPosted{false};      // the reader's start of InpTimer is on its way
    std::atomic<std::uint64_t> handedOver{0};  // blocks handed to the port's thread so far
    std::atomic<unsigned> readerOpening{0};    // the opening the driver's reader belongs to
  };
  // The port's thread's own: its jobs hold it, nothing else touches it.
  struct PortThread {
    PortThread(EventLoop& loop, TCommDrvRec& rec, std::weak_ptr<TComPortKX*> owner, std::shared_ptr<Shared> both)
        : ui(loop), drv(rec), self(std::move(owner)), shared(std::move(both)) {}
    struct Opening {
      unsigned number;
      std::int32_t port;
      DCB dcb;
      std::shared_ptr<std::uint8_t[]> ring;
      std::int32_t ringSize;
    };
    bool OpenDevice(const Opening& o);
    void CloseDevice();
    // The one place that decides whether a block was written.
    TWritten Write(const std::vector<std::uint8_t>& block, std::uint64_t number, unsigned opening);
    std::vector<TProbe> Probe(const std::vector<std::int32_t>& numbers) const;
    // Runs call on the user-interface thread, if the object still exists then.
    void PostBack(std::function<void(TComPortKX&)> call) const;

    EventLoop& ui;
    TCommDrvRec& drv;  // this thread's while the driver is closed; shared with the reader's while open
    const std::weak_ptr<TComPortKX*> self;
    const std::shared_ptr<Shared> shared;
    std::shared_ptr<std::uint8_t[]> ring;  // the ring of the opening made last
    unsigned open = 0;                     // the opening the driver holds open, 0: none
    unsigned failedOpening = 0;            // after a block not taken on that opening, the blocks
    std::uint64_t skipThrough = 0;         // up to this number are not tried
  };

  void OpenPort();
  void ClosePort();
  void Opened(unsigned opening, bool opened);
  template <class Store>
  void ChangeSetting(bool differs, Store store);

  EventLoop& Ui_;
  TCommDrvRec& Drv_;  // its ring counters (shared with the reader) and its notices
  Window Win_;
  std::shared_ptr<Shared> Shared_;
  // Posted calls may outlive the object: they hold this token and check it.
  std::shared_ptr<TComPortKX*> Self_;
  std::shared_ptr<PortThread> Port_;
  std::unique_ptr<WorkQueue> Queue_;  // last: its thread ends before the rest is released
};

// The speeds the BaudRate setter accepts; any other value sets 9600.
std::uint32_t MapBaudRate(std::int32_t value);

}  // namespace brek
