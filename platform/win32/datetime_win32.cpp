#include <windows.h>

#include "platform/datetime.h"

namespace korvel::plat {

double now_datetime() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return encode_datetime({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
}

}  // namespace korvel::plat
