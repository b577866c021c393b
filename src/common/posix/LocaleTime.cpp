#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "common/CommonUtils.h"
#include "common/Cp1251.h"

namespace brek {
namespace {

// The user's LC_TIME from the environment, not the process-wide locale a toolkit may set.
// Made anew only when the environment's locale variables change: making one reads the
// locale files, and every error-log line asks.
std::string FormatWithLocale(const LocalDateTime& t, nl_item item) {
  static std::mutex mutex;
  static std::string madeFor;
  static locale_t made = static_cast<locale_t>(0);
  std::string wanted;
  for (const char* name : {"LC_ALL", "LC_TIME", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    wanted += value ? value : "";
    wanted += '\n';
  }
  std::lock_guard lock(mutex);
  if (made == static_cast<locale_t>(0) || wanted != madeFor) {
    if (made != static_cast<locale_t>(0)) freelocale(made);
    made = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (made == static_cast<locale_t>(0)) made = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    madeFor = wanted;
  }
  const locale_t loc = made;
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
  return utf8 ? Utf8ToCp1251(out) : out;
}

}  // namespace

std::string LocaleShortDate(const LocalDateTime& t) { return FormatWithLocale(t, D_FMT); }
std::string LocaleLongTime(const LocalDateTime& t) { return FormatWithLocale(t, T_FMT); }

}  // namespace brek
