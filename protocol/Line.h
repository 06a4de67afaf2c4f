// The byte line a protocol object talks over. The serial port is one; tests plug an in-memory line
// that the module simulator serves, with a hand-driven clock and no threads.
#pragma once
#include <string>

#include "driver/PDB.h"

namespace korvel {

class Line {
 public:
  virtual ~Line() = default;

  // Opens the line with the port and line settings of block (an open line only takes the
  // settings again). message receives the text the host shows: the port name with "打开成功" on
  // success, else why it failed. True when the line is open.
  virtual bool open(const PDB& block, std::string& message) = 0;

  virtual bool is_open() const = 0;

  // The device the line goes to, as the process names it (its path): an instance that opens the
  // same device after another takes over that one's rest. "" when the line shares no device.
  virtual std::string device() const { return {}; }

  // What of the settings the device did not take at the last open, as a log text; "" when it
  // took them all.
  virtual std::string settings_note() const { return {}; }

  // Why the last open failed, in the system's words with the device path, for the log; "" when it
  // did not fail or nothing more is known than the message.
  virtual std::string open_failure() const { return {}; }

  // Forgets what was received so far and everything still queued, then sends text (at most its
  // first 255 characters). True when every byte went out. Never waits for an answer; a line that
  // has gone is reopened by one attempt, without waiting.
  virtual bool send(const std::string& text) = 0;

  // Everything received since the last send; takes what has arrived without waiting. The text
  // stays valid until the next call on the line.
  virtual const std::string& received() = 0;
};

}  // namespace korvel
