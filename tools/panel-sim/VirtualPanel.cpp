#include "VirtualPanel.h"

#include <algorithm>
#include <cstring>

#include "common/Cp1251.h"

namespace brek::sim {

VirtualPanel::VirtualPanel(EventLoop& ui, FakeSerialDevices& devices, PanelConfig config, std::string dosName)
    : ui_(ui), devices_(devices), model_(std::move(config)), dosName_(std::move(dosName)) {
  number_ = std::stoi(dosName_.substr(3));
  SetCommBackend(this);
}

VirtualPanel::~VirtualPanel() {
  *alive_ = false;
  if (CurrentCommBackend() == this) SetCommBackend(nullptr);
}

std::string VirtualPanel::FriendlyName() const { return Utf8ToCp1251("Брек GSM Virtual COM Port (") + dosName_ + ")"; }

void VirtualPanel::Plug(bool notify) {
  present_ = true;
  busyUntilMs_ = 0;
  model_.Started();
  if (const std::uint32_t deaf = model_.Config().deafAfterStartMs) {
    const std::uint64_t plugging = ++plugs_;
    deaf_ = true;
    After(deaf, [this, plugging] {
      if (plugging == plugs_) deaf_ = false;
    });
  }
  devices_.AddPort({dosName_, FriendlyName(), true}, notify);
}

void VirtualPanel::Unplug(bool notify) {
  present_ = false;
  ++session_;  // whatever was on its way is lost with the cable
  queued_.clear();
  devices_.RemovePort(dosName_, notify);
}

void VirtualPanel::After(std::uint32_t ms, std::function<void()> action) {
  auto holder = std::make_shared<Timer*>(nullptr);
  std::weak_ptr<bool> alive = alive_;
  auto timer = ui_.CreateTimer(ms, true, [this, holder, action = std::move(action), alive] {
    if (!alive.lock()) return;
    const auto it = std::find_if(timers_.begin(), timers_.end(), [&](const auto& t) { return t.get() == *holder; });
    std::unique_ptr<Timer> self;
    if (it != timers_.end()) {
      self = std::move(*it);
      timers_.erase(it);
    }
    action();
  });
  *holder = timer.get();
  timers_.push_back(std::move(timer));
}

bool VirtualPanel::Open(TCommDrvRec& rec) {
  if (rec.PortNumber != number_ || !present_ || held_ || heldElsewhere) return false;
  if (refuseOpenings > 0) {
    --refuseOpenings;
    return false;
  }
  held_ = true;
  ++openings_;
  ++session_;
  queued_.clear();
  rec_ = &rec;
  rec.Handle = 1000 + number_;
  rec.Stop = false;
  rec.Gone = false;  // as every opening: a hang-up is this opening's word
  rec.InpBufRead = false;
  rec.ReceivedBytes = 0;
  rec.StartInInpBuf = 0;
  return true;
}

void VirtualPanel::Close(TCommDrvRec& rec) {
  if (rec.Handle == INVALID_HANDLE_VALUE) return;
  rec.Stop = true;
  rec.InpBufRead = false;
  rec.ReceivedBytes = 0;
  rec.StartInInpBuf = 0;
  rec.Handle = INVALID_HANDLE_VALUE;
  held_ = false;
  rec_ = nullptr;
  ++session_;
  queued_.clear();
}

std::uint32_t VirtualPanel::Write(THandle handle, const std::uint8_t* bytes, std::uint32_t count) {
  if (handle == INVALID_HANDLE_VALUE || !held_ || !present_ || count == 0) return 0;
  if (failWrites > 0) {
    --failWrites;
    if (onFailedWrite) onFailedWrite();
    return 0;
  }
  if (deaf_) return count;  // taken by the USB side, never read by the firmware
  const auto outputs = model_.Receive(std::string_view(reinterpret_cast<const char*>(bytes), count));
  const std::uint64_t session = session_;
  // Answers take at least a millisecond on the line, so the program's reading of one
  // answer never overlaps the panel's next.
  for (const PanelOutput& o : outputs) {
    std::uint32_t delay = std::max<std::uint32_t>(o.delayMs, 1);
    if (model_.Config().oneLineAtATime) {
      const std::uint64_t at = std::max(ui_.TickMs(), busyUntilMs_) + delay;
      busyUntilMs_ = at;
      delay = static_cast<std::uint32_t>(at - ui_.TickMs());
    }
    After(delay, [this, session, bytes = o.bytes] { Deliver(session, bytes); });
  }
  if (model_.TakeRestartRequest()) {
    // The panel restarts: its USB device leaves shortly after and comes back later.
    const std::uint32_t leave = model_.Config().leaveAfterResetMs;
    const std::uint32_t back = std::max<std::uint32_t>(model_.Config().restartMs, leave + 50);
    After(leave, [this] { Unplug(); });
    After(back, [this] {
      model_.Restarted();
      Plug();
    });
  }
  if (afterWrite) afterWrite(std::string(reinterpret_cast<const char*>(bytes), count));
  return count;
}

void VirtualPanel::HangUp() {
  if (rec_) CommReportGone(*rec_);
}

void VirtualPanel::Send(const std::string& bytes) { Deliver(session_, bytes); }

void VirtualPanel::Deliver(std::uint64_t session, const std::string& bytes) {
  if (session != session_ || !held_ || !present_ || !rec_) return;
  queued_ += bytes;
  CommStoreInput(*rec_, static_cast<std::uint32_t>(queued_.size()), [this](std::uint8_t* at, std::uint32_t n) {
    const std::uint32_t take = std::min<std::uint32_t>(n, static_cast<std::uint32_t>(queued_.size()));
    std::memcpy(at, queued_.data(), take);
    queued_.erase(0, take);
    return take;
  });
}

TProbe VirtualPanel::Probe(std::int32_t number) {
  probed.push_back(number);
  if (number == number_) return !present_ || held_ ? TProbe::Refused : heldElsewhere ? TProbe::Held : TProbe::Free;
  const FakeSerialDevices::Port* p = devices_.Find("COM" + std::to_string(number));
  return p && p->free ? TProbe::Free : TProbe::Refused;
}

}  // namespace brek::sim
