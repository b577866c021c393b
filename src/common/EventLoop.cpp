#include "common/EventLoop.h"

#include <thread>

#include "common/CommonUtils.h"

namespace brek {
namespace {

class ThreadWorkQueue : public WorkQueue {
 public:
  ThreadWorkQueue() : thread_([this] { Run(); }) {}
  ~ThreadWorkQueue() override {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    more_.notify_all();
    thread_.join();
  }
  void Post(std::function<void()> job) override {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    more_.notify_all();
  }

 private:
  void Run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        more_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopped, and every job handed over has run
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      try {
        job();
      } catch (...) {
        // A job reports through what it posts; nothing may end the queue's thread.
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable more_;
  std::deque<std::function<void()>> jobs_;
  bool stop_ = false;
  std::thread thread_;  // last: started once the rest is made
};

}  // namespace

std::unique_ptr<WorkQueue> EventLoop::CreateWorkQueue() { return std::make_unique<ThreadWorkQueue>(); }

std::unique_ptr<WorkQueue> EventLoop::CreateInlineWorkQueue() {
  struct Inline : WorkQueue {
    void Post(std::function<void()> job) override { job(); }
  };
  return std::make_unique<Inline>();
}

void HandleApplicationException(const std::exception& e,
                                const std::function<void(const std::exception&)>& onException) noexcept {
  try {
    if (onException)
      onException(e);
    else
      LogException(e, "Application.HandleException");
  } catch (...) {
  }
}

void DispatchGuarded(const std::function<void()>& call,
                     const std::function<void(const std::exception&)>& onException) {
  try {
    if (call) call();
  } catch (const std::exception& e) {
    HandleApplicationException(e, onException);
  } catch (...) {
    // Nothing may cross the event loop.
  }
}

void PostedCalls::Push(std::function<void()> call) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  arrived_.notify_all();
}

std::function<void()> PostedCalls::Pop() {
  std::lock_guard lock(mutex_);
  if (calls_.empty()) return {};
  std::function<void()> call = std::move(calls_.front());
  calls_.pop_front();
  return call;
}

bool PostedCalls::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return arrived_.wait_until(lock, deadline, [this] { return !calls_.empty(); });
}

}  // namespace brek
