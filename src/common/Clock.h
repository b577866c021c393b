#pragma once
// Local wall-clock time. Tests and the virtual-time toolkit replace the source.
#include <cstdint>
#include <functional>

namespace brek {

struct LocalDateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

using ClockSource = std::function<LocalDateTime()>;

// The current local date and time from the installed source (the system clock by default).
LocalDateTime NowLocal();
// Installs a source; an empty one restores the system clock. Not thread-safe: set it
// before the threads that read the clock start.
void SetClockSource(ClockSource source);

// Platform: the system's local date and time.
LocalDateTime SystemNowLocal();

// The date-time value: days since 1899-12-30 in the whole part, the time of day in the fraction.
double EncodeDateTime(const LocalDateTime& t);
// Days from 1970-01-01 for a proleptic Gregorian date.
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int& year, int& month, int& day);

}  // namespace brek
