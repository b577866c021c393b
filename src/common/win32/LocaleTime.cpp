// The user's short date and long time formats. The wide calls, so the text does not depend
// on the system's ANSI code page; the log is Windows-1251.
#include "common/CommonUtils.h"
#include "common/Cp1251.h"

#include <windows.h>

namespace brek {
namespace {

SYSTEMTIME ToSystemTime(const LocalDateTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = static_cast<WORD>(t.millisecond);
  return st;
}

std::string Narrow(const wchar_t* text, int length) {
  if (length <= 1) return {};
  return Utf16ToCp1251(std::u16string_view(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(length - 1)));
}

}  // namespace

std::string LocaleShortDate(const LocalDateTime& t) {
  const SYSTEMTIME st = ToSystemTime(t);
  wchar_t buffer[128];
  return Narrow(buffer, GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, 128));
}

std::string LocaleLongTime(const LocalDateTime& t) {
  const SYSTEMTIME st = ToSystemTime(t);
  wchar_t buffer[128];
  return Narrow(buffer, GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, 128));
}

}  // namespace brek
