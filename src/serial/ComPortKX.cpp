#include "serial/ComPortKX.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

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
    Shared_ = std::make_shared<Shared>();
    Port_ = std::make_shared<PortThread>(Ui_, Drv_, Self_, Shared_);
    DCB& dcb = Win_.dcb;
    dcb = DCB{};
    dcb.DCBlength = 28;
    dcb.BaudRate = 38400;
    dcb.Flags = 1;
    dcb.ByteSize = 8;
    dcb.Parity = 0;
    dcb.StopBits = 0;
    // Inert with XON/XOFF off, but the system refuses a record where the two are equal.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    Win_.portNumber = Drv_.PortNumber;
    Win_.ringSize = DefaultInpBufSize;
    Win_.ring = std::shared_ptr<std::uint8_t[]>(new std::uint8_t[static_cast<std::size_t>(Win_.ringSize)]);
    // No thread touches the record yet.
    Drv_.Dcb = dcb;
    Drv_.InpBuf = Win_.ring.get();
    Drv_.InpBufSize = Win_.ringSize;
    Port_->ring = Win_.ring;
    Drv_.ReceivedBytes = 0;
    Drv_.Stop = false;
    Drv_.OnReceive = [this] { OnReceivedBytes(); };
    Drv_.OnGone = [this] { OnDriverGone(); };
    Drv_.OnLetGoNow = [this] { LetGoNow(); };
    Win_.inpTimer = Ui_.CreateTimer(kInpTimerInterval, false, [this] { OnInpTimer(); });
    try {
      Queue_ = Ui_.CreateWorkQueue();
    } catch (const std::exception&) {
      Queue_ = EventLoop::CreateInlineWorkQueue();  // no thread to be had: the caller waits, then
    }
  });
}

TComPortKX::~TComPortKX() {
  Guarded("TComPortKX.Destroy", [&] {
    if (Shared_) Shared_->ending = true;  // what has not started yet is not tried: only the closing runs
    if (Active() && Queue_) ClosePort();
    Queue_.reset();  // what was handed over has ended: no reader is left to use the ring
    Drv_.OnReceive = nullptr;
    Drv_.OnGone = nullptr;
    Drv_.OnLetGoNow = nullptr;
    Drv_.InpBuf = nullptr;
    Drv_.InpBufSize = 0;
    Self_.reset();
    Port_.reset();
    Win_.ring.reset();
    Win_.inpTimer.reset();
  });
}

void TComPortKX::PortThread::PostBack(std::function<void(TComPortKX&)> call) const {
  ui.PostToUiThread([self = self, call = std::move(call)] {
    if (auto alive = self.lock()) call(**alive);
  });
}

void TComPortKX::SetActive(bool value) {
  Guarded("TComPortKX.SetActive", [&] {
    if (value == Active()) return;
    if (value) {
      OpenPort();
    } else {
      Win_.link = Link::Closed;
      ClosePort();
    }
  });
}

void TComPortKX::OpenPort() {
  const unsigned opening = ++Win_.openings;
  Win_.link = Link::Opening;
  Queue_->Post([port = Port_, o = PortThread::Opening{opening, Win_.portNumber, Win_.dcb, Win_.ring, Win_.ringSize}] {
    const bool opened = port->OpenDevice(o);
    port->PostBack([opening = o.number, opened](TComPortKX& p) { p.Opened(opening, opened); });
  });
}

bool TComPortKX::PortThread::OpenDevice(const Opening& o) {
  // The driver record is this thread's: the settings and the ring as asked for.
  drv.PortNumber = o.port;
  drv.Dcb = o.dcb;
  ring = o.ring;
  drv.InpBuf = o.ring.get();
  drv.InpBufSize = o.ringSize;
  shared->readerOpening = o.number;
  bool opened = false;
  try {
    opened = !shared->ending && CommOpen(drv);
  } catch (const std::exception&) {
    // Refused like any other failure: an opening under way must have an end.
  }
  open = opened ? o.number : 0;
  return opened;
}

void TComPortKX::Opened(unsigned opening, bool opened) {
  Guarded("TComPortKX.SetActive", [&] {
    if (Win_.link != Link::Opening || opening != Win_.openings) return;  // closed or asked again meanwhile
    Win_.link = opened ? Link::Open : Link::Failed;
    Win_.status = opened ? kStatusOpened : kStatusFailed;
    if (!opened) return;
    // Bytes stored before this word came found the ring shut to the consumer.
    if (Drv_.ReceivedBytes.load() > 0 && !Win_.inpTimer->Enabled()) Win_.inpTimer->SetEnabled(true);
    if (OnOpen) OnOpen(this);
    // A hang-up the reader saw before this word was not raised then: the port was not open.
    if (Open() && Drv_.Gone && OnDeviceGone) OnDeviceGone(this);
  });
}

void TComPortKX::PortThread::CloseDevice() {
  CommClose(drv);
  open = 0;
}

void TComPortKX::ClosePort() {
  Queue_->Post([port = Port_] {
    port->CloseDevice();
    port->PostBack([](TComPortKX& p) {
      if (p.OnClosed) p.OnClosed(&p);
    });
  });
}

void TComPortKX::LetGoNow() {
  Guarded("TComPortKX.SetActive", [&] {
    if (!Active()) return;
    struct Latch {
      std::mutex mutex;
      std::condition_variable done;
      bool closed = false;
    };
    auto latch = std::make_shared<Latch>();
    Queue_->Post([port = Port_, latch] {
      port->CloseDevice();
      std::lock_guard lock(latch->mutex);
      latch->closed = true;
      latch->done.notify_all();
    });
    std::unique_lock lock(latch->mutex);
    latch->done.wait_for(lock, std::chrono::milliseconds(kLetGoNowMs), [&] { return latch->closed; });
  });
}

template <class Store>
void TComPortKX::ChangeSetting(bool differs, Store store) {
  if (!differs) return;
  const bool wasActive = Active();
  if (wasActive) ClosePort();
  store();
  if (wasActive) OpenPort();
}

void TComPortKX::SetPortNumber(std::int32_t value) {
  ChangeSetting(value != Win_.portNumber, [&] { Win_.portNumber = value; });
}

void TComPortKX::SetBaudRate(std::int32_t value) {
  ChangeSetting(value != BaudRate(), [&] { Win_.dcb.BaudRate = MapBaudRate(value); });
}

void TComPortKX::SetByteSize(std::int32_t value) {
  ChangeSetting(value != Win_.dcb.ByteSize, [&] { Win_.dcb.ByteSize = static_cast<std::uint8_t>(value & 0xFF); });
}

void TComPortKX::SetStopBits(std::int32_t value) {
  ChangeSetting(value != Win_.dcb.StopBits,
                [&] { Win_.dcb.StopBits = static_cast<std::uint8_t>(value >= 0 && value <= 2 ? value : 0); });
}

void TComPortKX::SetParity(std::int32_t value) {
  ChangeSetting(value != Win_.dcb.Parity,
                [&] { Win_.dcb.Parity = static_cast<std::uint8_t>(value >= 0 && value <= 4 ? value : 0); });
}

void TComPortKX::SetInpBufSize(std::int32_t value) {
  if (value == Win_.ringSize) return;
  if (value <= 0) throw ERangeError("TComPortKX: the receive ring needs at least one byte");
  // The old block stays with the port's thread until a new opening replaces it: its reader
  // ends with the closing asked for here, not before.
  ChangeSetting(true, [&] {
    Win_.ringSize = value;
    Win_.ring = std::shared_ptr<std::uint8_t[]>(new std::uint8_t[static_cast<std::size_t>(value)]);
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
    number = ++Shared_->handedOver;
    Queue_->Post([port = Port_, block = std::move(block), number, opening = Win_.openings] {
      const TWritten outcome = port->Write(block, number, opening);
      port->PostBack([number, outcome](TComPortKX& p) {
        Guarded("TComPortKX.PutBlock", [&] {
          if (p.OnWritten) p.OnWritten(&p, number, outcome);
        });
      });
    });
  });
  return number;
}

TWritten TComPortKX::PortThread::Write(const std::vector<std::uint8_t>& block, std::uint64_t number, unsigned opening) {
  // Not tried: being destroyed, an opening since closed or let go of, or behind a block of
  // this opening that was not taken. Nothing of it reached the driver.
  if (shared->ending || open != opening || (failedOpening == opening && number <= skipThrough))
    return TWritten::Dropped;
  const auto size = static_cast<std::uint32_t>(block.size());
  try {
    if (CommWrite(drv.Handle, block.data(), size) == size) return TWritten::Whole;
  } catch (const std::exception&) {
    // Not written: every block handed over gets its outcome.
  }
  failedOpening = opening;
  skipThrough = shared->handedOver.load();
  bool discarded = false;
  try {
    discarded = CommDiscard(drv);
  } catch (const std::exception&) {
    // Not known to be thrown away.
  }
  return discarded ? TWritten::Dropped : TWritten::MayStillReach;
}

void TComPortKX::Probe(std::vector<std::int32_t> numbers, std::function<void(const std::vector<TProbe>&)> done) {
  Queue_->Post([port = Port_, numbers = std::move(numbers), done = std::move(done)] {
    port->PostBack([answers = port->Probe(numbers), done](TComPortKX&) { done(answers); });
  });
}

std::vector<TProbe> TComPortKX::PortThread::Probe(const std::vector<std::int32_t>& numbers) const {
  std::vector<TProbe> answers;
  for (std::int32_t n : numbers) {
    TProbe answer = TProbe::Refused;
    try {
      if (!shared->ending) answer = CommProbe(n);
    } catch (const std::exception&) {
      // Not free, as far as anyone can tell.
    }
    answers.push_back(answer);
  }
  return answers;
}

void TComPortKX::OnReceivedBytes() {
  Guarded("TComPortKX.OnReceivedBytes", [&] {
    if (Drv_.ReceivedBytes.load() == 0) return;
    // One start request in flight at a time; the timer's own rule absorbs the rest.
    if (Shared_->startPosted.exchange(true)) return;
    std::weak_ptr<TComPortKX*> self = Self_;
    try {
      Ui_.PostToUiThread([self] {
        if (auto alive = self.lock()) {
          TComPortKX* port = *alive;
          port->Shared_->startPosted = false;
          Timer* timer = port->Win_.inpTimer.get();
          if (timer && !timer->Enabled()) timer->SetEnabled(true);
        }
      });
    } catch (...) {
      Shared_->startPosted = false;  // nothing is in flight: the next notice posts again
      throw;
    }
  });
}

void TComPortKX::OnDriverGone() {
  Guarded("TComPortKX.OnDriverGone", [&] {
    Port_->PostBack([opening = Shared_->readerOpening.load()](TComPortKX& port) {
      if (port.Open() && port.Win_.openings == opening && port.OnDeviceGone) port.OnDeviceGone(&port);
    });
  });
}

void TComPortKX::OnInpTimer() {
  Guarded("TComPortKX.OnInpTimer", [&] {
    Win_.inpTimer->SetEnabled(false);
    if (OnReceiveData) OnReceiveData(this);
  });
}

}  // namespace brek
