#pragma once
// A toolkit whose clock moves only when the test says so. Timers fire in order of their
// due time (creation order on ties); Sleep moves the clock without firing anything;
// ProcessMessagesFor moves it while firing what falls due.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "ui/Toolkit.h"

namespace brek::test {

class VirtualToolkit : public Toolkit {
 public:
  struct MessageBox {
    std::string text, caption;
    unsigned flags;
  };

  explicit VirtualToolkit(LocalDateTime start = {2026, 12, 6, 17, 45, 12, 0});
  ~VirtualToolkit() override;

  std::unique_ptr<Timer> CreateTimer(unsigned intervalMs, bool enabled, std::function<void()> onTimer) override;
  void PostToUiThread(std::function<void()> call) override;
  void Sleep(unsigned ms) override;
  void ProcessMessagesFor(unsigned ms) override;
  std::uint64_t TickMs() const override { return now_; }
  void ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  // Jobs run as handed over, or with threadedWork on a thread of their own as in the programs.
  std::unique_ptr<WorkQueue> CreateWorkQueue() override;
  void ShowMainWindow() override { shown = true; }
  void CloseMainWindow() override { closed = true; }
  void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler) override {
    onException_ = std::move(handler);
  }

  // Moves the clock by ms, firing timers and posted calls as they fall due.
  void Advance(std::uint64_t ms);
  // Runs the calls posted so far (from any thread).
  void RunPosted();
  // Runs posted calls as they arrive until pred holds or realTimeoutMs of real time pass.
  bool RunUntil(const std::function<bool()>& pred, int realTimeoutMs = 5000);
  // Runs an event handler as the toolkit would (exceptions to the application handler).
  void Dispatch(const std::function<void()>& call) { DispatchGuarded(call, onException_); }

  std::uint64_t NowMs() const { return now_; }
  LocalDateTime Now() const;
  std::size_t LiveTimers() const;

  bool threadedWork = false;
  // Jobs handed over from now on wait for ReleaseWork (a port's thread still busy writing).
  bool holdWork = false;
  void ReleaseWork();
  bool shown = false;
  bool closed = false;
  std::vector<MessageBox> messageBoxes;
  std::vector<unsigned> sleeps;            // every blocking wait, in order
  std::vector<unsigned> processingWaits;   // every message-processing wait

 private:
  struct TimerState;
  class VirtualTimer;

  LocalDateTime start_;
  std::uint64_t now_ = 0;
  std::uint64_t nextSerial_ = 0;
  struct TimerRef {
    std::weak_ptr<TimerState> ref;
    TimerState* state;  // for looking only: valid while ref has not expired
  };
  std::vector<TimerRef> timers_;
  std::function<void(const std::exception&)> onException_;

  PostedCalls posted_;
  std::deque<std::function<void()>> heldJobs_;
};

// Moves the virtual clock with the real one, running posted calls as they come, until
// done or timeoutMs of real time passed.
bool RunRealTime(VirtualToolkit& ui, const std::function<bool()>& done, int timeoutMs);

}  // namespace brek::test
