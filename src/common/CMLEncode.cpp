#include "common/CMLEncode.h"

#include <cmath>

#include "common/Clock.h"
#include "common/Guard.h"

namespace brek {
namespace {
constexpr std::int64_t kDateTimeEpochDays = -25569;  // 1899-12-30 from 1970-01-01
constexpr std::int64_t kMsPerDay = 86400000;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}
}  // namespace

SYSTEMTIME DateTime2SystemTime(double x) {
  SYSTEMTIME t{};
  if (!(x > 0) || !std::isfinite(x) || x > 2958465.0) return t;  // 2958465 is 9999-12-31
  std::int64_t days = static_cast<std::int64_t>(std::floor(x));
  std::int64_t ms = std::llround((x - static_cast<double>(days)) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    ++days;
  }
  int y, mo, d;
  CivilFromDays(days + kDateTimeEpochDays, y, mo, d);
  t.wYear = static_cast<std::uint16_t>(y);
  t.wMonth = static_cast<std::uint16_t>(mo);
  t.wDay = static_cast<std::uint16_t>(d);
  t.wHour = static_cast<std::uint16_t>(ms / 3600000);
  t.wMinute = static_cast<std::uint16_t>(ms / 60000 % 60);
  t.wSecond = static_cast<std::uint16_t>(ms / 1000 % 60);
  t.wMilliseconds = static_cast<std::uint16_t>(ms % 1000);
  return t;
}

bool SystemTimeToFileTime(const SYSTEMTIME& t, std::uint64_t& ticks) {
  if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
      t.wDay > DaysInMonth(t.wYear, t.wMonth) || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 ||
      t.wMilliseconds > 999)
    return false;
  const std::int64_t days = DaysFromCivil(t.wYear, t.wMonth, t.wDay) - DaysFromCivil(1601, 1, 1);
  const std::int64_t ms = days * kMsPerDay + ((t.wHour * 60LL + t.wMinute) * 60 + t.wSecond) * 1000 +
                          t.wMilliseconds;
  ticks = static_cast<std::uint64_t>(ms) * 10000ULL;
  return true;
}

std::uint64_t Time2CmlUInt64(const SYSTEMTIME& t, bool withMilliseconds) {
  std::uint64_t result = 0;
  Guarded("CMLEncode.Time2CmlUInt64", [&] {
    std::uint64_t ticks = 0;
    if (!SystemTimeToFileTime(t, ticks)) return;
    const std::uint64_t ms = (ticks - CmlEpoch) / 10000ULL;
    const std::uint64_t seconds = ms / 1000ULL;
    result = withMilliseconds ? (seconds | ((ms % 1000ULL) << 32)) : seconds;
  });
  return result;
}

}  // namespace brek
