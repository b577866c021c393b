#include "support/VirtualToolkit.h"

#include <chrono>

namespace brek::test {

struct VirtualToolkit::TimerState {
  unsigned interval = 0;
  bool enabled = false;
  bool alive = true;
  std::uint64_t due = 0;
  std::uint64_t serial = 0;
  std::function<void()> onTimer;
};

class VirtualToolkit::VirtualTimer : public Timer {
 public:
  VirtualTimer(VirtualToolkit& owner, std::shared_ptr<TimerState> state) : owner_(owner), state_(std::move(state)) {}
  ~VirtualTimer() override { state_->alive = false; }
  void SetEnabled(bool enabled) override {
    if (enabled && !state_->enabled) state_->due = owner_.now_ + state_->interval;
    state_->enabled = enabled;
  }
  bool Enabled() const override { return state_->enabled; }
  void SetInterval(unsigned ms) override {
    state_->interval = ms;
    if (state_->enabled) state_->due = owner_.now_ + ms;
  }
  unsigned Interval() const override { return state_->interval; }

 private:
  VirtualToolkit& owner_;
  std::shared_ptr<TimerState> state_;
};

VirtualToolkit::VirtualToolkit(LocalDateTime start) : start_(start) {
  SetClockSource([this] { return Now(); });
}

VirtualToolkit::~VirtualToolkit() { SetClockSource({}); }

std::unique_ptr<Timer> VirtualToolkit::CreateTimer(unsigned intervalMs, bool enabled, std::function<void()> onTimer) {
  auto state = std::make_shared<TimerState>();
  state->interval = intervalMs;
  state->serial = nextSerial_++;
  state->onTimer = std::move(onTimer);
  timers_.push_back({state, state.get()});
  auto timer = std::make_unique<VirtualTimer>(*this, state);
  timer->SetEnabled(enabled);
  return timer;
}

std::unique_ptr<WorkQueue> VirtualToolkit::CreateWorkQueue() {
  struct Holding : WorkQueue {
    explicit Holding(VirtualToolkit& ui) : ui(ui) {}
    void Post(std::function<void()> job) override {
      if (ui.holdWork || !ui.heldJobs_.empty()) return ui.heldJobs_.push_back(std::move(job));
      job();
    }
    VirtualToolkit& ui;
  };
  if (threadedWork) return Toolkit::CreateWorkQueue();
  return std::make_unique<Holding>(*this);
}

void VirtualToolkit::ReleaseWork() {
  holdWork = false;
  while (!heldJobs_.empty()) {
    auto job = std::move(heldJobs_.front());
    heldJobs_.pop_front();
    job();
  }
}

void VirtualToolkit::PostToUiThread(std::function<void()> call) { posted_.Push(std::move(call)); }

void VirtualToolkit::Sleep(unsigned ms) {
  sleeps.push_back(ms);
  now_ += ms;
}

void VirtualToolkit::ProcessMessagesFor(unsigned ms) {
  processingWaits.push_back(ms);
  Advance(ms);
}

void VirtualToolkit::ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  messageBoxes.push_back({text, caption, flags});
}

void VirtualToolkit::RunPosted() {
  while (std::function<void()> call = posted_.Pop()) Dispatch(call);
}

void VirtualToolkit::Advance(std::uint64_t ms) {
  const std::uint64_t target = now_ + ms;
  for (;;) {
    RunPosted();
    // The earliest due timer, looked at without taking a share of each (a step of the
    // fuzzer's long waits walks every timer); only the one that fires is held.
    const TimerRef* earliest = nullptr;
    for (auto it = timers_.begin(); it != timers_.end();) {
      const TimerState* t = it->ref.expired() ? nullptr : it->state;
      if (!t || !t->alive) {
        it = timers_.erase(it);
        continue;
      }
      const TimerState* e = earliest ? earliest->state : nullptr;
      if (t->enabled && t->due <= target && (!e || t->due < e->due || (t->due == e->due && t->serial < e->serial)))
        earliest = &*it;
      ++it;
    }
    if (!earliest) break;
    const std::shared_ptr<TimerState> next = earliest->ref.lock();
    if (next->due > now_) now_ = next->due;
    next->due = now_ + (next->interval ? next->interval : 1);
    Dispatch(next->onTimer);
  }
  if (target > now_) now_ = target;
  RunPosted();
}

bool VirtualToolkit::RunUntil(const std::function<bool()>& pred, int realTimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realTimeoutMs);
  for (;;) {
    RunPosted();
    if (pred()) return true;
    if (!posted_.WaitUntil(deadline)) {
      RunPosted();
      return pred();
    }
  }
}

LocalDateTime VirtualToolkit::Now() const {
  const std::int64_t startDays = DaysFromCivil(start_.year, start_.month, start_.day);
  const std::int64_t startMs =
      ((start_.hour * 60LL + start_.minute) * 60 + start_.second) * 1000 + start_.millisecond;
  const std::int64_t total = startMs + static_cast<std::int64_t>(now_);
  LocalDateTime t;
  CivilFromDays(startDays + total / 86400000, t.year, t.month, t.day);
  const std::int64_t ms = total % 86400000;
  t.hour = static_cast<int>(ms / 3600000);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.millisecond = static_cast<int>(ms % 1000);
  return t;
}

std::size_t VirtualToolkit::LiveTimers() const {
  std::size_t n = 0;
  for (const auto& w : timers_)
    if (auto t = w.ref.lock(); t && t->alive) ++n;
  return n;
}

bool RunRealTime(VirtualToolkit& ui, const std::function<bool()>& done, int timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  std::uint64_t moved = 0;
  while (!done()) {
    const auto elapsed = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    if (elapsed > static_cast<std::uint64_t>(timeoutMs)) return false;
    if (elapsed > moved) {
      ui.Advance(elapsed - moved);
      moved = elapsed;
    }
    ui.RunUntil([] { return false; }, 1);
  }
  return true;
}

}  // namespace brek::test
