#pragma once
#include <cstdint>

namespace brek {

// The demo state; the window shows one at a time.
enum TProgrammState : std::uint8_t {
  psWaitConnect = 0,
  psWrongVersion = 1,
  psConnected = 2,
  psLoadDemo = 3,
  psDemoLoaded = 4,
  psMoneyLittle = 5,
  psMoneyOff = 6,
  psMoneyFull = 7,
  psLoadFtdef = 8,
};

}  // namespace brek
