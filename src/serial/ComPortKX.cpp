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
    Dcb_ = DCB{};
    Dcb_.DCBlength = 28;
    Dcb_.BaudRate = 38400;
    Dcb_.Flags = 1;
    Dcb_.ByteSize = 8;
    Dcb_.Parity = 0;
    Dcb_.StopBits = 0;
    // Inert with XON/XOFF off, but the system refuses a record where the two are equal.
    Dcb_.XonChar = 0x11;
    Dcb_.XoffChar = 0x13;
    PortNumber_ = Drv_.PortNumber;
    InpBufSize_ = DefaultInpBufSize;
    InpBuf_ = std::shared_ptr<std::uint8_t[]>(new std::uint8_t[static_cast<std::size_t>(InpBufSize_)]);
    // No thread touches the record yet.
    Drv_.Dcb = Dcb_;
    Drv_.InpBuf = InpBuf_.get();
    Drv_.InpBufSize = InpBufSize_;
    DrvRing_ = InpBuf_;
    Drv_.ReceivedBytes = 0;
    Drv_.Stop = false;
    Drv_.OnReceive = [this] { OnReceivedBytes(); };
    Drv_.OnGone = [this] { OnDriverGone(); };
    InpTimer_ = Ui_.CreateTimer(kInpTimerInterval, false, [this] { OnInpTimer(); });
    try {
      Queue_ = Ui_.CreateWorkQueue();
    } catch (const std::exception&) {
      Queue_ = EventLoop::CreateInlineWorkQueue();  // no thread to be had: the caller waits, then
    }
  });
}

TComPortKX::~TComPortKX() {
  Guarded("TComPortKX.Destroy", [&] {
    Ending_ = true;  // what has not started yet is not tried: only the closing runs
    if (Active_ && Queue_) ClosePort();
    Queue_.reset();  // what was handed over has ended: no reader is left to use the ring
    Drv_.OnReceive = nullptr;
    Drv_.OnGone = nullptr;
    Drv_.InpBuf = nullptr;
    Drv_.InpBufSize = 0;
    Self_.reset();
    DrvRing_.reset();
    InpBuf_.reset();
    InpTimer_.reset();
  });
}

void TComPortKX::PostBack(std::function<void(TComPortKX&)> call) {
  std::weak_ptr<TComPortKX*> self = Self_;
  Ui_.PostToUiThread([self, call = std::move(call)] {
    if (auto alive = self.lock()) call(**alive);
  });
}

void TComPortKX::SetActive(bool value) {
  Guarded("TComPortKX.SetActive", [&] {
    if (value == Active_) return;
    Active_ = value;
    if (value)
      OpenPort();
    else
      ClosePort();
  });
}

void TComPortKX::OpenPort() {
  const unsigned opening = ++Openings_;
  Status_ = kStatusOpening;
  Queue_->Post([this, opening, number = PortNumber_, dcb = Dcb_, ring = InpBuf_, size = InpBufSize_] {
    // The driver record is this thread's: the settings and the ring as asked for.
    Drv_.PortNumber = number;
    Drv_.Dcb = dcb;
    DrvRing_ = ring;
    Drv_.InpBuf = ring.get();
    Drv_.InpBufSize = size;
    DrvOpening_ = opening;
    bool opened = false;
    try {
      opened = !Ending_ && CommOpen(Drv_);
    } catch (const std::exception&) {
      // Refused like any other failure: an opening under way must have an end.
    }
    PostBack([opening, opened](TComPortKX& port) { port.Opened(opening, opened); });
  });
}

void TComPortKX::Opened(unsigned opening, bool opened) {
  Guarded("TComPortKX.SetActive", [&] {
    if (!Active_ || opening != Openings_) return;  // closed or asked again meanwhile
    Status_ = opened ? kStatusOpened : kStatusFailed;
    if (!opened) return;
    // Bytes stored before this word came found the ring shut to the consumer.
    if (Drv_.ReceivedBytes.load() > 0 && !InpTimer_->Enabled()) InpTimer_->SetEnabled(true);
    if (OnOpen) OnOpen(this);
    // A hang-up the reader saw before this word was not raised then: the port was not open.
    if (Open() && Drv_.Gone && OnDeviceGone) OnDeviceGone(this);
  });
}

void TComPortKX::ClosePort() {
  Queue_->Post([this] {
    CommClose(Drv_);
    PostBack([](TComPortKX& port) {
      if (port.OnClosed) port.OnClosed(&port);
    });
  });
}

template <class Store>
void TComPortKX::ChangeSetting(bool differs, Store store) {
  if (!differs) return;
  const bool wasActive = Active_;
  if (wasActive) ClosePort();
  store();
  if (wasActive) OpenPort();
}

void TComPortKX::SetPortNumber(std::int32_t value) {
  ChangeSetting(value != PortNumber_, [&] { PortNumber_ = value; });
}

void TComPortKX::SetBaudRate(std::int32_t value) {
  ChangeSetting(value != BaudRate(), [&] { Dcb_.BaudRate = MapBaudRate(value); });
}

void TComPortKX::SetByteSize(std::int32_t value) {
  ChangeSetting(value != Dcb_.ByteSize, [&] { Dcb_.ByteSize = static_cast<std::uint8_t>(value & 0xFF); });
}

void TComPortKX::SetStopBits(std::int32_t value) {
  ChangeSetting(value != Dcb_.StopBits,
                [&] { Dcb_.StopBits = static_cast<std::uint8_t>(value >= 0 && value <= 2 ? value : 0); });
}

void TComPortKX::SetParity(std::int32_t value) {
  ChangeSetting(value != Dcb_.Parity,
                [&] { Dcb_.Parity = static_cast<std::uint8_t>(value >= 0 && value <= 4 ? value : 0); });
}

void TComPortKX::SetInpBufSize(std::int32_t value) {
  if (value == InpBufSize_) return;
  if (value <= 0) throw ERangeError("TComPortKX: the receive ring needs at least one byte");
  // The old block stays with the port's thread until a new opening replaces it: its reader
  // ends with the closing asked for here, not before.
  ChangeSetting(true, [&] {
    InpBufSize_ = value;
    InpBuf_ = std::shared_ptr<std::uint8_t[]>(new std::uint8_t[static_cast<std::size_t>(value)]);
  });
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
  Guarded("TComPortKX.SetReceivedBytes", [&] {
    if (Open()) CommTakeBytes(Drv_, count);
  });
}

void TComPortKX::RestartAtRingStart() {
  Guarded("TComPortKX.StartInInpBuf", [&] { CommRingRestart(Drv_); });
}

std::uint64_t TComPortKX::PutBlock(const std::uint8_t* bytes, std::int32_t count) {
  std::uint64_t number = 0;
  Guarded("TComPortKX.PutBlock", [&] {
    if (count <= 0 || !Open()) return;
    std::vector<std::uint8_t> block(bytes, bytes + count);
    number = ++Blocks_;
    Queue_->Post([this, block = std::move(block), number, opening = Openings_] {
      bool whole = false;
      if (!Ending_ && (FailedOpening_ != opening || number > SkipThrough_)) {
        const auto size = static_cast<std::uint32_t>(block.size());
        try {
          whole = CommWrite(Drv_.Handle, block.data(), size) == size;
        } catch (const std::exception&) {
          // Not written: every block handed over gets its outcome.
        }
        if (!whole) {
          FailedOpening_ = opening;
          SkipThrough_ = Blocks_.load();
        }
      }
      PostBack([number, whole](TComPortKX& port) {
        Guarded("TComPortKX.PutBlock", [&] {
          if (port.OnWritten) port.OnWritten(&port, number, whole);
        });
      });
    });
  });
  return number;
}

void TComPortKX::Probe(std::vector<std::int32_t> numbers, std::function<void(const std::vector<bool>&)> done) {
  Queue_->Post([this, numbers = std::move(numbers), done = std::move(done)] {
    std::vector<bool> free;
    for (std::int32_t n : numbers) {
      bool answer = false;
      try {
        answer = !Ending_ && CommProbe(n);
      } catch (const std::exception&) {
        // Not free, as far as anyone can tell.
      }
      free.push_back(answer);
    }
    PostBack([free = std::move(free), done](TComPortKX&) { done(free); });
  });
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
    PostBack([opening = DrvOpening_.load()](TComPortKX& port) {
      if (port.Open() && port.Openings_ == opening && port.OnDeviceGone) port.OnDeviceGone(&port);
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
