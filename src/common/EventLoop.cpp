#include "common/EventLoop.h"

#include "common/CommonUtils.h"

namespace brek {

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
