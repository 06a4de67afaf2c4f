#include "platform/datetime.h"

#include <cmath>
#include <cstdio>

namespace korvel::plat {
namespace {

// Days from 30 Dec 1899 to the civil date (proleptic Gregorian).
long days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;  // 25569 = days from 1899-12-30 to 1970-01-01
}

void civil_from_days(long z, int& y, int& m, int& d) {
  z += 719468 - 25569;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

}  // namespace

double encode_datetime(const DateTimeParts& p) {
  const double day = static_cast<double>(days_from_civil(p.year, p.month, p.day));
  const double frac =
      (p.hour * 3600000.0 + p.minute * 60000.0 + p.second * 1000.0 + p.millisecond) / 86400000.0;
  return day + frac;
}

DateTimeParts decode_datetime(double dt) {
  DateTimeParts p{};
  if (!std::isfinite(dt) || std::fabs(dt) > 3.0e6) dt = 0;
  long day = static_cast<long>(std::floor(dt));
  long ms = std::lround((dt - static_cast<double>(day)) * 86400000.0);
  if (ms >= 86400000L) {
    ++day;
    ms -= 86400000L;
  }
  civil_from_days(day, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000L);
  p.minute = static_cast<int>(ms / 60000L % 60);
  p.second = static_cast<int>(ms / 1000L % 60);
  p.millisecond = static_cast<int>(ms % 1000L);
  return p;
}

std::string date_text(double dt) {
  const DateTimeParts p = decode_datetime(dt);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  return buf;
}

std::string datetime_text(double dt) {
  const DateTimeParts p = decode_datetime(dt);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  return buf;
}

std::string rotation_stamp(double dt) {
  const DateTimeParts p = decode_datetime(dt);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d-%02d-%02d-%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  return buf;
}

}  // namespace korvel::plat
