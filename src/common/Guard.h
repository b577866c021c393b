#pragma once
// The one way an operation of ours guards its body: an exception derived from
// std::exception is written to the error log under the operation's qualified name and
// the operation returns normally. Anything else passes on.
#include <exception>
#include <string_view>
#include <utility>

#include "common/CommonUtils.h"

namespace brek {

template <class Body>
void Guarded(std::string_view operation, Body&& body) {
  try {
    std::forward<Body>(body)();
  } catch (const std::exception& e) {
    LogException(e, operation);
  }
}

}  // namespace brek
