#include "common/Clock.h"

#include <utility>

namespace brek {
namespace {
ClockSource& Source() {
  static ClockSource source;
  return source;
}
// 1899-12-30 counted from 1970-01-01.
constexpr std::int64_t kDateTimeEpochDays = -25569;
}  // namespace

LocalDateTime NowLocal() {
  const ClockSource& s = Source();
  return s ? s() : SystemNowLocal();
}

void SetClockSource(ClockSource source) { Source() = std::move(source); }

// Howard Hinnant's civil-date algorithms.
std::int64_t DaysFromCivil(int year, int month, int day) {
  std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

double EncodeDateTime(const LocalDateTime& t) {
  const double days = static_cast<double>(DaysFromCivil(t.year, t.month, t.day) - kDateTimeEpochDays);
  const double ms = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond;
  return days + ms / 86400000.0;
}

}  // namespace brek
