#pragma once
// TComPortKX: the serial port as the program sees it. Settings live in the driver record;
// the object owns the receive ring and brings the reader's notice over to the
// user-interface thread through a 10 ms one-shot input timer.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "serial/ComPortDrv.h"
#include "common/EventLoop.h"

namespace brek {

inline constexpr std::int32_t DefaultInpBufSize = 4096;
inline constexpr std::uint16_t kStatusNone = 0xFF00, kStatusOpened = 0xFF01, kStatusFailed = 0xFF02;
inline constexpr unsigned kInpTimerInterval = 10;

class TComPortKX {
 public:
  using TNotifyEvent = std::function<void(TComPortKX* sender)>;

  explicit TComPortKX(EventLoop& ui, TCommDrvRec& drv = CommDrv);  // Create
  ~TComPortKX();                                                  // Destroy
  TComPortKX(const TComPortKX&) = delete;
  TComPortKX& operator=(const TComPortKX&) = delete;

  TNotifyEvent OnReceiveData;
  TNotifyEvent OnOpen;
  // The device of the open port is gone (the reader saw it hang up): raised once, on the
  // user-interface thread, while the same opening is still active.
  TNotifyEvent OnDeviceGone;

  void SetActive(bool value);
  bool Active() const { return Active_; }
  std::uint16_t Status() const { return Status_; }

  // Line settings: a change while Active closes, stores and opens again.
  std::int32_t PortNumber() const { return Drv_.PortNumber; }
  void SetPortNumber(std::int32_t value);
  std::int32_t BaudRate() const { return static_cast<std::int32_t>(Drv_.Dcb.BaudRate); }
  void SetBaudRate(std::int32_t value);
  std::uint8_t ByteSize() const { return Drv_.Dcb.ByteSize; }
  void SetByteSize(std::int32_t value);
  std::uint8_t StopBits() const { return Drv_.Dcb.StopBits; }
  void SetStopBits(std::int32_t value);
  std::uint8_t Parity() const { return Drv_.Dcb.Parity; }
  void SetParity(std::int32_t value);
  std::int32_t InpBufSize() const { return InpBufSize_; }
  void SetInpBufSize(std::int32_t value);

  // The receive ring, read in place by the consumer.
  const std::uint8_t* InpBuf() const { return InpBuf_.get(); }
  std::int32_t ReceivedBytes() const { return Drv_.ReceivedBytes.load(); }
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

  // False when the port is open but did not take the whole block within the write's bound
  // (what it left queued is dropped). A closed port writes nothing and says so with true.
  bool PutBlock(const std::uint8_t* bytes, std::int32_t count);

  void OnReceivedBytes();  // the driver's notice, on the reader thread
  void OnDriverGone();     // the driver's word that the device is gone, on the reader thread
  void OnInpTimer();       // InpTimer's tick, on the user-interface thread

 private:
  void OpenPort();
  template <class Store>
  void ChangeSetting(bool differs, Store store);

  EventLoop& Ui_;
  TCommDrvRec& Drv_;
  std::uint16_t Status_ = kStatusNone;
  std::unique_ptr<std::uint8_t[]> InpBuf_;
  std::int32_t InpBufSize_ = 0;
  bool Active_ = false;
  std::unique_ptr<Timer> InpTimer_;
  // Posted calls may outlive the object: they hold this token and check it.
  std::shared_ptr<TComPortKX*> Self_;
  std::atomic<bool> StartPosted_{false};
  std::atomic<unsigned> Openings_{0};  // a word about an earlier opening is not this one's
};

// The speeds the BaudRate setter accepts; any other value sets 9600.
std::uint32_t MapBaudRate(std::int32_t value);

}  // namespace brek
