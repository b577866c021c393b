#include <langinfo.h>
#include <locale.h>

#include <cstring>
#include <ctime>
#include <string>

#include "common/CommonUtils.h"
#include "common/Cp1251.h"

namespace brek {
namespace {

// Formats with the user's LC_TIME (from the environment), read anew each time so the
// process-wide locale of a toolkit does not matter.
std::string FormatWithLocale(const LocalDateTime& t, nl_item item) {
  locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return {};
  tm parts{};
  parts.tm_year = t.year - 1900;
  parts.tm_mon = t.month - 1;
  parts.tm_mday = t.day;
  parts.tm_hour = t.hour;
  parts.tm_min = t.minute;
  parts.tm_sec = t.second;
  parts.tm_isdst = -1;
  timegm(&parts);  // fills the weekday and the day of the year for %a, %j and the like
  parts.tm_hour = t.hour;
  char buffer[128];
  const char* format = nl_langinfo_l(item, loc);
  std::size_t n = strftime_l(buffer, sizeof buffer, format, &parts, loc);
  std::string out(buffer, n);
  const char* codeset = nl_langinfo_l(CODESET, loc);
  const bool utf8 = codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
  freelocale(loc);
  return utf8 ? Utf8ToCp1251(out) : out;
}

}  // namespace

std::string LocaleShortDate(const LocalDateTime& t) { return FormatWithLocale(t, D_FMT); }
std::string LocaleLongTime(const LocalDateTime& t) { return FormatWithLocale(t, T_FMT); }

}  // namespace brek
