#include "platform/datetime.h"

#include <sys/time.h>
#include <time.h>

namespace korvel::plat {

double now_datetime() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &local);
  return encode_datetime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec, static_cast<int>(tv.tv_usec / 1000)});
}

}  // namespace korvel::plat
