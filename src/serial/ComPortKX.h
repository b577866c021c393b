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

class TComPortKX {
 public:
  using TNotifyEvent = std::function<void(TComPortKX* sender)>;
  // A block handed to PutBlock has been written whole, or was not (the device did not take
  // it within the write's bound, or is gone): block is the number PutBlock gave it.
  using TWrittenEvent = std::function<void(TComPortKX* sender, std::uint64_t block, bool whole)>;

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
  bool Active() const { return Active_; }
  std::uint16_t Status() const { return Status_; }
  bool Open() const { return Active_ && Status_ == kStatusOpened; }

  // Line settings: a change while Active closes, stores and opens again. Each opening takes
  // the settings as they were when it was asked for.
  std::int32_t PortNumber() const { return PortNumber_; }
  void SetPortNumber(std::int32_t value);
  std::int32_t BaudRate() const { return static_cast<std::int32_t>(Dcb_.BaudRate); }
  void SetBaudRate(std::int32_t value);
  std::uint8_t ByteSize() const { return Dcb_.ByteSize; }
  void SetByteSize(std::int32_t value);
  std::uint8_t StopBits() const { return Dcb_.StopBits; }
  void SetStopBits(std::int32_t value);
  std::uint8_t Parity() const { return Dcb_.Parity; }
  void SetParity(std::int32_t value);
  std::int32_t InpBufSize() const { return InpBufSize_; }
  void SetInpBufSize(std::int32_t value);

  // The receive ring, read in place by the consumer. It holds nothing while the port is not
  // open: a closing empties it, and an opening still under way has given it nothing yet.
  const std::uint8_t* InpBuf() const { return InpBuf_.get(); }
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
  // before); done gets one answer per number, on the user-interface thread.
  void Probe(std::vector<std::int32_t> numbers, std::function<void(const std::vector<bool>& free)> done);

  void OnReceivedBytes();  // the driver's notice, on the reader thread
  void OnDriverGone();     // the driver's word that the device is gone, on the reader thread
  void OnInpTimer();       // InpTimer's tick, on the user-interface thread

 private:
  void OpenPort();
  void ClosePort();
  void Opened(unsigned opening, bool opened);
  // Runs call on the user-interface thread, if the object still exists then.
  void PostBack(std::function<void(TComPortKX&)> call);
  template <class Store>
  void ChangeSetting(bool differs, Store store);

  EventLoop& Ui_;
  TCommDrvRec& Drv_;
  std::uint16_t Status_ = kStatusNone;
  std::int32_t PortNumber_ = 0;
  DCB Dcb_;
  std::shared_ptr<std::uint8_t[]> InpBuf_;
  std::int32_t InpBufSize_ = 0;
  bool Active_ = false;
  std::unique_ptr<Timer> InpTimer_;
  // Posted calls may outlive the object: they hold this token and check it.
  std::shared_ptr<TComPortKX*> Self_;
  std::atomic<bool> StartPosted_{false};
  unsigned Openings_ = 0;  // a word about an earlier opening is not this one's
  std::atomic<std::uint64_t> Blocks_{0};
  // The port's thread's own: the ring of the opening it made last, the opening the
  // driver's reader belongs to, and the blocks not to try (up to SkipThrough_ of that
  // opening) after one was not taken.
  std::shared_ptr<std::uint8_t[]> DrvRing_;
  std::atomic<unsigned> DrvOpening_{0};
  unsigned FailedOpening_ = 0;
  std::uint64_t SkipThrough_ = 0;
  std::atomic<bool> Ending_{false};  // being destroyed: only the closing is still run
  std::unique_ptr<WorkQueue> Queue_;  // last: its thread ends before the rest is released
};

// The speeds the BaudRate setter accepts; any other value sets 9600.
std::uint32_t MapBaudRate(std::int32_t value);

}  // namespace brek
