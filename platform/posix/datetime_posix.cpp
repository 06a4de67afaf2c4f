#include "platform/datetime.h"

#include <sys/time.h>
#include <time.h>

namespace korvel::plat {

double now_datetime() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  // Every exchange stamps its tags: the time-zone conversion is done once per second and thread.
  thread_local time_t last_secs = -1;
  thread_local tm local{};
  const time_t secs = tv.tv_sec;
  if (secs != last_secs) {
    localtime_r(&secs, &local);
    last_secs = secs;
  }
  return encode_datetime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec, static_cast<int>(tv.tv_usec / 1000)});
}

}  // namespace korvel::plat
