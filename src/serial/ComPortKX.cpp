#include "serial/ComPortKX.h"

#include "common/Exceptions.h"
#include "common/Guard.h"

namespace brek {

std::uint32_t MapBaudRate(std::int32_t value) {
  static constexpr std::int32_t kSpeeds[] = {110,   300,   600,   1200,   2400,   4800,   7200,
                                             9600,  14400, 19200, 38400,  56000,  57600,  115200,
                                             128000, 230400, 256000, 460800, 921600};
  for (std::int32_t s : kSpeeds)
    if (s == value) return static_cast<std::uint32_t>(value);
  return 9600;
}

TComPortKX::TComPortKX(EventLoop& ui, TCommDrvRec& drv) : Ui_(ui), Drv_(drv) {
  Guarded("TComPortKX.Create", [&] {
    Self_ = std::make_shared<TComPortKX*>(this);
    Drv_.Dcb = DCB{};
    Drv_.Dcb.DCBlength = 28;
    Drv_.Dcb.BaudRate = 38400;
    Drv_.Dcb.Flags = 1;
    Drv_.Dcb.ByteSize = 8;
    Drv_.Dcb.Parity = 0;
    Drv_.Dcb.StopBits = 0;
    // Inert with XON/XOFF off, but the system refuses a record where the two are equal.
    Drv_.Dcb.XonChar = 0x11;
    Drv_.Dcb.XoffChar = 0x13;
    InpBufSize_ = DefaultInpBufSize;
    InpBuf_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(InpBufSize_));
    Drv_.InpBuf = InpBuf_.get();
    Drv_.InpBufSize = InpBufSize_;
    Drv_.ReceivedBytes = 0;
    Drv_.Stop = false;
    Drv_.OnReceive = [this] { OnReceivedBytes(); };
    Drv_.OnGone = [this] { OnDriverGone(); };
    InpTimer_ = Ui_.CreateTimer(kInpTimerInterval, false, [this] { OnInpTimer(); });
  });
}

TComPortKX::~TComPortKX() {
  Guarded("TComPortKX.Destroy", [&] {
    if (Active_) CommClose(Drv_);
    Drv_.OnReceive = nullptr;
    Drv_.OnGone = nullptr;
    Drv_.InpBuf = nullptr;
    Drv_.InpBufSize = 0;
    Self_.reset();
    InpBuf_.reset();
    InpTimer_.reset();
  });
}

void TComPortKX::SetActive(bool value) {
  Guarded("TComPortKX.SetActive", [&] {
    if (value == Active_) return;
    Active_ = value;
    if (value)
      OpenPort();
    else
      CommClose(Drv_);
  });
}

void TComPortKX::OpenPort() {
  ++Openings_;
  if (CommOpen(Drv_)) {
    Status_ = kStatusOpened;
    if (OnOpen) OnOpen(this);
  } else {
    Status_ = kStatusFailed;
  }
}

template <class Store>
void TComPortKX::ChangeSetting(bool differs, Store store) {
  if (!differs) return;
  const bool wasActive = Active_;
  if (wasActive) CommClose(Drv_);
  store();
  if (wasActive) OpenPort();
}

void TComPortKX::SetPortNumber(std::int32_t value) {
  ChangeSetting(value != Drv_.PortNumber, [&] { Drv_.PortNumber = value; });
}

void TComPortKX::SetBaudRate(std::int32_t value) {
  ChangeSetting(value != BaudRate(), [&] { Drv_.Dcb.BaudRate = MapBaudRate(value); });
}

void TComPortKX::SetByteSize(std::int32_t value) {
  ChangeSetting(value != Drv_.Dcb.ByteSize, [&] { Drv_.Dcb.ByteSize = static_cast<std::uint8_t>(value & 0xFF); });
}

void TComPortKX::SetStopBits(std::int32_t value) {
  ChangeSetting(value != Drv_.Dcb.StopBits,
                [&] { Drv_.Dcb.StopBits = static_cast<std::uint8_t>(value >= 0 && value <= 2 ? value : 0); });
}

void TComPortKX::SetParity(std::int32_t value) {
  ChangeSetting(value != Drv_.Dcb.Parity,
                [&] { Drv_.Dcb.Parity = static_cast<std::uint8_t>(value >= 0 && value <= 4 ? value : 0); });
}

void TComPortKX::SetInpBufSize(std::int32_t value) {
  if (value == InpBufSize_) return;
  if (value <= 0) throw ERangeError("TComPortKX: the receive ring needs at least one byte");
  InpBufSize_ = value;
  const bool wasActive = Active_;
  if (wasActive) CommClose(Drv_);  // the reader is gone before the ring is replaced
  InpBuf_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(value));
  Drv_.InpBuf = InpBuf_.get();
  Drv_.InpBufSize = value;
  CommSetQueues(Drv_);
  if (wasActive) OpenPort();
}

void TComPortKX::SetReceivedBytes(std::int32_t value) {
  Guarded("TComPortKX.SetReceivedBytes", [&] {
    std::lock_guard lock(Drv_.RingMutex);
    Drv_.ReceivedBytes = value;
  });
}

void TComPortKX::SetStartInInpBuf(std::int32_t value) {
  Guarded("TComPortKX.StartInInpBuf", [&] {
    std::lock_guard lock(Drv_.RingMutex);
    Drv_.StartInInpBuf = value;
  });
}

void TComPortKX::SetInpBufRead(bool value) {
  Guarded("TComPortKX.SetInpBufRead", [&] { Drv_.InpBufRead = value; });
}

void TComPortKX::TakeBytes(std::int32_t count) {
  Guarded("TComPortKX.SetReceivedBytes", [&] { CommTakeBytes(Drv_, count); });
}

void TComPortKX::RestartAtRingStart() {
  Guarded("TComPortKX.StartInInpBuf", [&] { CommRingRestart(Drv_); });
}

bool TComPortKX::PutBlock(const std::uint8_t* bytes, std::int32_t count) {
  bool whole = true;
  Guarded("TComPortKX.PutBlock", [&] {
    if (count <= 0 || !Active_ || Status_ != kStatusOpened || Drv_.Handle == INVALID_HANDLE_VALUE) return;
    whole = CommWrite(Drv_.Handle, bytes, static_cast<std::uint32_t>(count)) == static_cast<std::uint32_t>(count);
  });
  return whole;
}

void TComPortKX::OnReceivedBytes() {
  Guarded("TComPortKX.OnReceivedBytes", [&] {
    if (Drv_.ReceivedBytes.load() == 0) return;
    // One start request in flight at a time; the timer's own rule absorbs the rest.
    if (StartPosted_.exchange(true)) return;
    std::weak_ptr<TComPortKX*> self = Self_;
    try {
      Ui_.PostToUiThread([self] {
        if (auto alive = self.lock()) {
          TComPortKX* port = *alive;
          port->StartPosted_ = false;
          if (port->InpTimer_ && !port->InpTimer_->Enabled()) port->InpTimer_->SetEnabled(true);
        }
      });
    } catch (...) {
      StartPosted_ = false;  // nothing is in flight: the next notice posts again
      throw;
    }
  });
}

void TComPortKX::OnDriverGone() {
  Guarded("TComPortKX.OnDriverGone", [&] {
    std::weak_ptr<TComPortKX*> self = Self_;
    const unsigned opening = Openings_.load();
    Ui_.PostToUiThread([self, opening] {
      auto alive = self.lock();
      if (!alive) return;
      TComPortKX* port = *alive;
      if (port->Active_ && port->Status_ == kStatusOpened && port->Openings_ == opening && port->OnDeviceGone)
        port->OnDeviceGone(port);
    });
  });
}

void TComPortKX::OnInpTimer() {
  Guarded("TComPortKX.OnInpTimer", [&] {
    InpTimer_->SetEnabled(false);
    if (OnReceiveData) OnReceiveData(this);
  });
}

}  // namespace brek
