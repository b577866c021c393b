#pragma once
// The panel's clock value: seconds since 1970-01-01 00:00:00 of a calendar time taken as it
// stands (local wall-clock time in, local seconds out).
#include <cstdint>

namespace brek {

// The platform's calendar record, field for field.
struct SYSTEMTIME {
  std::uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  std::uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

// 1970-01-01 in 100-ns ticks since 1601-01-01.
inline constexpr std::uint64_t CmlEpoch = 116444736000000000ULL;

SYSTEMTIME DateTime2SystemTime(double x);
// withMilliseconds false: seconds; true: seconds in the low 32 bits, milliseconds OR-ed in
// the high 32 bits. 0 for a record that is no valid calendar time.
std::uint64_t Time2CmlUInt64(const SYSTEMTIME& t, bool withMilliseconds);
// The calendar record as 100-ns ticks since 1601-01-01; false when a field is out of range.
bool SystemTimeToFileTime(const SYSTEMTIME& t, std::uint64_t& ticks);

}  // namespace brek
