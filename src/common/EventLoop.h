#pragma once
// What the serial layer and the controller need of an event loop: timers, calls posted to
// the user-interface thread, the two waits, and the rule that no exception crosses the
// loop. The Qt and Win32 toolkits implement it (ui/Toolkit.h adds the window); tests use a
// virtual-time implementation whose clock moves only when told.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace brek {

// A timer: fires its handler on the user-interface thread every interval while enabled.
// Destroying a timer from inside its own handler is safe.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetInterval(unsigned ms) = 0;
  virtual unsigned Interval() const = 0;
};

// Work that may wait on a device, run one job after another in the order handed over,
// off the user-interface thread. Destroying it waits for the jobs already handed over (for
// a bounded time once the loop's BoundWorkQueueEnds was called).
class WorkQueue {
 public:
  virtual ~WorkQueue() = default;
  virtual void Post(std::function<void()> job) = 0;
};

class EventLoop {
 public:
  virtual ~EventLoop() = default;

  virtual std::unique_ptr<Timer> CreateTimer(unsigned intervalMs, bool enabled, std::function<void()> onTimer) = 0;
  // Runs call on the user-interface thread, after what is already queued. Callable from
  // any thread.
  virtual void PostToUiThread(std::function<void()> call) = 0;
  // Blocks the user-interface thread; nothing else runs meanwhile.
  virtual void Sleep(unsigned ms) = 0;
  // Waits while timers, posted calls and window messages go on being handled.
  virtual void ProcessMessagesFor(unsigned ms) = 0;
  // A monotonic clock in milliseconds, for measuring the waits between timer ticks.
  virtual std::uint64_t TickMs() const {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  // A queue with a thread of its own. A virtual-time loop runs each job as it is handed
  // over: its clock stands still meanwhile, and the job's outcome, posted, comes later.
  virtual std::unique_ptr<WorkQueue> CreateWorkQueue();
  // From now on a queue's end waits at most ms for the jobs handed over. A job still running
  // then sits in a driver call that may never return: its thread is not joined and the
  // process is ended (EndProcess), the system closing the device; the job would use what
  // its owner frees. For the program's end only.
  void BoundWorkQueueEnds(unsigned ms) { workQueueEndMs_ = ms; }
  unsigned WorkQueueEndBoundMs() const { return workQueueEndMs_; }
  // Ends the process at once: no destructor runs, the system releases what it held.
  [[noreturn]] virtual void EndProcess();
  // Runs each job as it is handed over, on the caller's thread.
  static std::unique_ptr<WorkQueue> CreateInlineWorkQueue();
  // Exceptions that escape a timer, posted call or click go here, never across the event
  // loop; an empty handler restores the default (logged, nothing shown).
  virtual void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler) = 0;

 private:
  unsigned workQueueEndMs_ = 0;  // 0: the end waits for every job
};

// The calls posted to the user-interface thread: pushed from any thread, taken one at a
// time on the user-interface thread.
class PostedCalls {
 public:
  void Push(std::function<void()> call);
  // The oldest call, or an empty function when none is waiting.
  std::function<void()> Pop();
  // Waits until a call is waiting or the deadline passed; true when one is.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::function<void()>> calls_;
};

// Hands an exception that escaped an event handler to the application's handler (or logs
// it); never raises.
void HandleApplicationException(const std::exception& e,
                                const std::function<void(const std::exception&)>& onException) noexcept;

// Runs one event handler the way every toolkit dispatches it.
void DispatchGuarded(const std::function<void()>& call,
                     const std::function<void(const std::exception&)>& onException);

}  // namespace brek
