#include "common/Clock.h"

#include <windows.h>

namespace brek {

LocalDateTime SystemNowLocal() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

}  // namespace brek
