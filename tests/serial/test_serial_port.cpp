// The POSIX serial service on its own: port names, what is not a port, every rate, queued
// input and purge. Exclusive open, writes and vanishing run through TCommClass.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/env.h"
#include "platform/pty.h"
#include "platform/serial.h"
#include "pty_helpers.h"

namespace korvel::serial_test {
namespace {

using plat::OpenResult;
using plat::SerialPort;

TEST(SerialDevicePath, ComNamesMapThroughTheEnvironmentOrTtyS) {
  plat::unset_env("KORVELPLNK_COM3");
  plat::unset_env("KORVELPLNK_COM10");
  EXPECT_EQ(plat::serial_device_path("Com1"), "/dev/ttyS0");
  EXPECT_EQ(plat::serial_device_path("Com10"), "/dev/ttyS9");
  EXPECT_EQ(plat::serial_device_path("Com16"), "/dev/ttyS15");
  plat::set_env("KORVELPLNK_COM3", "/dev/ttyUSB0");
  plat::set_env("KORVELPLNK_COM10", "/tmp/ten");
  EXPECT_EQ(plat::serial_device_path("Com3"), "/dev/ttyUSB0");
  EXPECT_EQ(plat::serial_device_path("COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(plat::serial_device_path("Com10"), "/tmp/ten");
  EXPECT_EQ(plat::serial_device_path("Com1"), "/dev/ttyS0");
  plat::set_env("KORVELPLNK_COM3", "");  // empty counts as unset
  EXPECT_EQ(plat::serial_device_path("Com3"), "/dev/ttyS2");
  plat::unset_env("KORVELPLNK_COM3");
  plat::unset_env("KORVELPLNK_COM10");
  // Anything else is a path as it stands.
  EXPECT_EQ(plat::serial_device_path("/dev/ttyACM0"), "/dev/ttyACM0");
  EXPECT_EQ(plat::serial_device_path("Com"), "Com");
  EXPECT_EQ(plat::serial_device_path("Comx"), "Comx");
  EXPECT_EQ(plat::serial_device_path("Com0"), "Com0");
  EXPECT_EQ(plat::serial_device_path(""), "");
}

class SerialPortTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(master_.open_pair(), plat::OpenResult::Ok) << plat::last_error_text(); }
  plat::Pty master_;
};

TEST_F(SerialPortTest, MissingDevicesAndFilesAreNotPorts) {
  SerialPort port;
  EXPECT_EQ(port.open("/nonexistent/ttyKorvel"), OpenResult::Missing);
  const auto file = std::filesystem::temp_directory_path() / "korvel_serial_not_a_tty";
  std::ofstream(file) << "x";
  EXPECT_EQ(port.open(file.string()), OpenResult::NotTerminal);
  EXPECT_FALSE(port.is_open());
  std::filesystem::remove(file);
  // Every call on a closed port fails quietly.
  char buf[4];
  plat::SerialLine line;
  EXPECT_EQ(port.queued_input(), -1);
  EXPECT_EQ(port.read(buf, sizeof buf), -1);
  EXPECT_EQ(port.write("x", 1, 0), -1);
  EXPECT_FALSE(port.apply(line));
  EXPECT_FALSE(port.read_back(&line));
  EXPECT_FALSE(port.set_queue_sizes(1, 1));
  port.purge_input();
  port.close();
}

TEST_F(SerialPortTest, EveryTableRateIncludingCustomOnesReadsBack) {
  SerialPort port;
  ASSERT_EQ(port.open(master_.path()), OpenResult::Ok);
  for (uint32_t baud : kBaudRates) {
    plat::SerialLine line;
    line.baud = baud;
    EXPECT_TRUE(port.apply(line)) << baud;
    plat::SerialLine back;
    ASSERT_TRUE(port.read_back(&back));
    EXPECT_EQ(back.baud, baud);
  }
}

TEST_F(SerialPortTest, QueuedInputReadWithoutWaitingAndPurged) {
  SerialPort port;
  ASSERT_EQ(port.open(master_.path()), OpenResult::Ok);
  ASSERT_TRUE(port.apply(plat::SerialLine{}));
  char buf[16];
  EXPECT_EQ(port.queued_input(), 0);
  EXPECT_EQ(port.read(buf, sizeof buf), 0);  // nothing there: returns at once

  ASSERT_TRUE(master_.write("junk", 4, kWaitMs));
  long queued = port.queued_input();
  for (int i = 0; i < kWaitMs && queued < 4; ++i) {
    plat::sleep_ms(1);
    queued = port.queued_input();
  }
  ASSERT_EQ(queued, 4);
  port.purge_input();
  EXPECT_EQ(port.queued_input(), 0);
  EXPECT_EQ(port.read(buf, sizeof buf), 0);

  ASSERT_TRUE(master_.write("\r\n\x11\x13\x00\xff", 6, kWaitMs));  // raw: nothing mapped or eaten
  std::string got;
  for (int i = 0; i < kWaitMs && got.size() < 6; ++i) {
    const long n = port.read(buf, sizeof buf);
    ASSERT_GE(n, 0);
    got.append(buf, static_cast<size_t>(n));
    if (got.size() < 6) plat::sleep_ms(1);
  }
  EXPECT_EQ(got, std::string("\r\n\x11\x13\x00\xff", 6));
}

}  // namespace
}  // namespace korvel::serial_test
