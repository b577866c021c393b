#include "ui/Toolkit.h"

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

}  // namespace brek
