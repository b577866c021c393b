#include "common/EventLoop.h"

#include <cstdlib>
#include <thread>

#include "common/CommonUtils.h"

namespace brek {
namespace {

class ThreadWorkQueue : public WorkQueue {
 public:
  explicit ThreadWorkQueue(EventLoop& loop) : loop_(loop), state_(std::make_shared<State>()) {
    thread_ = std::thread([state = state_] { Run(*state); });
  }
  ~ThreadWorkQueue() override {
    std::unique_lock lock(state_->mutex);
    state_->stop = true;
    state_->more.notify_all();
    const unsigned bound = loop_.WorkQueueEndBoundMs();
    if (bound && !state_->ended.wait_for(lock, std::chrono::milliseconds(bound), [this] { return state_->done; })) {
      // Never joined: the job may sit in the driver for good.
      lock.unlock();
      thread_.detach();
      loop_.EndProcess();
    }
    lock.unlock();
    thread_.join();
  }
  void Post(std::function<void()> job) override {
    {
      std::lock_guard lock(state_->mutex);
      state_->jobs.push_back(std::move(job));
    }
    state_->more.notify_all();
  }

 private:
  // The thread's own share: it outlives a queue that stopped waiting for it.
  struct State {
    std::mutex mutex;
    std::condition_variable more, ended;
    std::deque<std::function<void()>> jobs;
    bool stop = false, done = false;
  };

  static void Run(State& s) {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(s.mutex);
        s.more.wait(lock, [&] { return s.stop || !s.jobs.empty(); });
        if (s.jobs.empty()) {  // stopped, and every job handed over has run
          s.done = true;
          s.ended.notify_all();
          return;
        }
        job = std::move(s.jobs.front());
        s.jobs.pop_front();
      }
      try {
        job();
      } catch (...) {
        // A job reports through what it posts; nothing may end the queue's thread.
      }
    }
  }

  EventLoop& loop_;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<WorkQueue> EventLoop::CreateWorkQueue() { return std::make_unique<ThreadWorkQueue>(*this); }

void EventLoop::EndProcess() { std::_Exit(0); }

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
