#pragma once
#include <cstdint>
#include <string>

namespace brek {

// One COM port found by the last refresh.
struct TPortRec {
  std::int32_t Number = 0;  // n of COMn
  std::string DosName;      // "COM5"
  std::string DeviceName;   // "Tuvo" for the panel's port, else empty
  bool Enabled = false;     // could be opened at the last check, or is the port in use
};

}  // namespace brek
