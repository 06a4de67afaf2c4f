// Calendar date-times as the host uses them: days since 30 Dec 1899, time of day as fraction.
#pragma once
#include <string>

namespace korvel::plat {

// Local time now.
double now_datetime();

// Broken-down parts of a date-time value (local, no time-zone arithmetic).
struct DateTimeParts {
  int year, month, day, hour, minute, second, millisecond;
};
DateTimeParts decode_datetime(double dt);
double encode_datetime(const DateTimeParts& p);

// "yyyy-mm-dd" (the driver's short date format).
std::string date_text(double dt);
// "yyyy-mm-dd hh:nn:ss" (short date, long time, joined by a space).
std::string datetime_text(double dt);
// "yyyy-mm-dd-hh-nn-ss" (the fixed format of rotated log names).
std::string rotation_stamp(double dt);

}  // namespace korvel::plat
