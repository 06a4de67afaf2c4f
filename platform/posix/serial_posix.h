// What a POSIX serial port holds behind platform/serial.h (shared with the simulator's line).
#pragma once
#include "platform/serial.h"

namespace korvel::plat {

struct SerialPort::Impl {
  int fd = -1;
  bool gone = false;  // a call failed because the device has gone
  void note_error(int err);
};

}  // namespace korvel::plat
