// TCommClass over real pseudo-terminals: opening from the parameter block, line settings, sending,
// collecting, purging, refusals, a line that vanishes and comes back, and descriptor hygiene.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/text.h"
#include "pty_helpers.h"
#include "serial/DLLComm.h"

namespace korvel::serial_test {
namespace {

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST(TCommClassNew, StartsClosedWithItsInitialValues) {
  TCommClass port(nullptr, true);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.PortName, "Com1");
  EXPECT_EQ(port.ReadTimeout, 1000u);
  EXPECT_EQ(port.WriteTimeout, 1000u);
  EXPECT_EQ(port.InBufSize, 2048u);
  EXPECT_EQ(port.OutBufSize, 2048u);
  EXPECT_EQ(port.EventChars.XonChar(), 0x11);
  EXPECT_EQ(port.EventChars.XoffChar(), 0x13);
  EXPECT_EQ(port.EventChars.ErrorChar(), 0);
  plat::SerialLine line;
  ASSERT_TRUE(port.LineSettings(line));
  EXPECT_EQ(line.baud, 19200u);
  EXPECT_EQ(line.data_bits, 8);
  EXPECT_EQ(line.parity, plat::SerialParity::Even);
  EXPECT_EQ(line.stop_bits, plat::SerialStopBits::One);
  EXPECT_FALSE(line.parity_check);
  // Nothing to read, purge or close on a closed port; nothing happens.
  EXPECT_EQ(port.ReadAll(), "");
  port.PurgeInput();
  port.Close();
  EXPECT_FALSE(port.ReadLineSettings(line));
}

TEST(TCommClassNew, IndicesMapThroughTheTables) {
  TCommClass port(nullptr, true);
  plat::SerialLine line;
  for (int i = 0; i < 15; ++i) {
    port.BaudIndex = i;
    ASSERT_TRUE(port.LineSettings(line));
    EXPECT_EQ(line.baud, kBaudRates[i]);
  }
  port.DataBitsIndex = 3;
  port.ParityIndex = 1;
  port.StopBitsIndex = 1;
  port.Options = TCommClass::kOptParityCheck;
  ASSERT_TRUE(port.LineSettings(line));
  EXPECT_EQ(line.data_bits, 7);
  EXPECT_EQ(line.parity, plat::SerialParity::Odd);
  EXPECT_EQ(line.stop_bits, plat::SerialStopBits::OneAndHalf);
  EXPECT_TRUE(line.parity_check);
  port.DataBitsIndex = 0;
  port.ParityIndex = 3;
  port.StopBitsIndex = 2;
  ASSERT_TRUE(port.LineSettings(line));
  EXPECT_EQ(line.data_bits, 4);
  EXPECT_EQ(line.parity, plat::SerialParity::Mark);
  EXPECT_EQ(line.stop_bits, plat::SerialStopBits::Two);
  port.ParityIndex = 4;
  ASSERT_TRUE(port.LineSettings(line));
  EXPECT_EQ(line.parity, plat::SerialParity::Space);
  for (int* index : {&port.BaudIndex, &port.DataBitsIndex, &port.ParityIndex, &port.StopBitsIndex}) {
    const int keep = *index;
    *index = 15;
    EXPECT_FALSE(port.LineSettings(line));
    *index = -1;
    EXPECT_FALSE(port.LineSettings(line));
    *index = keep;
  }
}

using TCommClassPty = PtyPortTest;

TEST_F(TCommClassPty, OpenTakesTheBlockAndReportsSuccess) {
  TCommClass port(nullptr, true);
  PDB block = MakeBlock(kComPort);
  block.BaudRate = 6;
  block.DataBits = 3;
  block.Parity = 1;
  block.StopBits = 2;
  std::string msg;
  ASSERT_TRUE(OpenPort(port, block, &msg));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.PortName, "Com3");
  EXPECT_EQ(msg, "Com3" + GBK("打开成功"));
  EXPECT_EQ(port.StatusText, msg);
  // The GBK bytes themselves, so that a broken converter cannot hide behind its own output.
  EXPECT_EQ(msg, "Com3\xB4\xF2\xBF\xAA\xB3\xC9\xB9\xA6");
  EXPECT_EQ(port.BaudIndex, 6);
  EXPECT_EQ(port.DataBitsIndex, 3);
  EXPECT_EQ(port.ParityIndex, 1);
  EXPECT_EQ(port.StopBitsIndex, 2);
  EXPECT_EQ(port.Options, TCommClass::kOptParityCheck);

  plat::SerialLine back;
  ASSERT_TRUE(port.ReadLineSettings(back));
  EXPECT_EQ(back.baud, 9600u);
  EXPECT_EQ(back.stop_bits, plat::SerialStopBits::Two);
  EXPECT_TRUE(back.parity_check);
  EXPECT_EQ(back.xon_char, 0x11);
  EXPECT_EQ(back.xoff_char, 0x13);
  // A pseudo-terminal keeps 8 bits without parity whatever is asked; data bits and parity are
  // checked through the table mapping above.
}

TEST_F(TCommClassPty, CustomRatesAndStopBitsApplyToTheOpenPort) {
  TCommClass port(nullptr, true);
  PDB block = MakeBlock(kComPort);
  for (uint8_t index : {7, 10, 13, 14, 12, 0}) {  // 14400, 56000, 128000, 256000, 115200, 110
    block.BaudRate = index;
    block.StopBits = index % 2 ? 0 : 2;
    ASSERT_TRUE(OpenPort(port, block));
    plat::SerialLine back;
    ASSERT_TRUE(port.ReadLineSettings(back));
    EXPECT_EQ(back.baud, kBaudRates[index]);
    EXPECT_EQ(back.stop_bits, index % 2 ? plat::SerialStopBits::One : plat::SerialStopBits::Two);
  }
}

TEST_F(TCommClassPty, FourDataBitsApplyEverythingElseAndSayWhatDidNot) {
  // A fresh terminal is in line mode with echo on; 4-bit words cannot be set, but raw mode, the
  // rate and the zero read time-outs must be, or every answer would be echoed onto the shared line
  // and none would ever complete.
  TCommClass port(nullptr, true);
  PDB block = MakeBlock(kComPort);
  block.BaudRate = 3;  // 1200
  block.DataBits = 0;
  std::string msg;
  ASSERT_TRUE(OpenPort(port, block, &msg));
  EXPECT_EQ(msg, "Com3" + GBK("打开成功"));
  EXPECT_NE(port.SettingsNote.find(GBK("4位数据位")), std::string::npos);
  plat::SerialLine back;
  ASSERT_TRUE(port.ReadLineSettings(back));
  EXPECT_EQ(back.baud, 1200u);
  ASSERT_TRUE(master_.write("=1\r", 3, kWaitMs));
  EXPECT_EQ(ReadAllUntil(port, 3), "=1\r");  // byte for byte, no line editing
  EXPECT_EQ(DrainMaster(master_), "");       // and nothing echoed back
  block.DataBits = 4;
  ASSERT_TRUE(OpenPort(port, block));
  EXPECT_EQ(port.SettingsNote, "");
}

TEST_F(TCommClassPty, EventCharsReapplyToTheOpenPortAndAssignCopiesAllFive) {
  TCommClass port(nullptr, true);
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  port.EventChars.SetXonChar('A');
  plat::SerialLine back;
  ASSERT_TRUE(port.ReadLineSettings(back));
  EXPECT_EQ(back.xon_char, 'A');

  TCommClass other(nullptr, true);
  other.EventChars.SetXonChar('Q');
  other.EventChars.SetXoffChar('S');
  other.EventChars.SetErrorChar('E');
  other.EventChars.SetEofChar('Z');
  other.EventChars.SetEvtChar('V');
  port.EventChars.Assign(other.EventChars);
  EXPECT_EQ(port.EventChars.XonChar(), 'Q');
  EXPECT_EQ(port.EventChars.XoffChar(), 'S');
  EXPECT_EQ(port.EventChars.ErrorChar(), 'E');
  EXPECT_EQ(port.EventChars.EofChar(), 'Z');
  EXPECT_EQ(port.EventChars.EvtChar(), 'V');
  ASSERT_TRUE(port.ReadLineSettings(back));
  EXPECT_EQ(back.xon_char, 'Q');
  EXPECT_EQ(back.xoff_char, 'S');
  EXPECT_EQ(back.eof_char, 'Z');
}

TEST_F(TCommClassPty, SendTextPutsTheFrameOnTheLineCutTo255) {
  TCommClass port(nullptr, true);
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  EXPECT_TRUE(port.SendText("#01HD\r"));
  EXPECT_EQ(ReadMaster(master_, 6), "#01HD\r");

  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));  // every byte value, raw
  EXPECT_TRUE(port.SendText(all));
  EXPECT_EQ(ReadMaster(master_, 255), all.substr(0, 255));

  std::string frame(300, 'a');
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<char>('a' + i % 26);
  EXPECT_TRUE(port.SendText(frame));
  EXPECT_EQ(ReadMaster(master_, 255), frame.substr(0, 255));
  EXPECT_EQ(DrainMaster(master_), "");  // and not a byte more

  EXPECT_TRUE(port.SendText(""));
  EXPECT_EQ(DrainMaster(master_), "");
}

// The line stops taking output (flow control held, a dead adapter) and takes it again a moment
// later. A send that waited for room would get through then; a send must not wait, so it fails now
// and its frame never reaches the line afterwards.
TEST_F(TCommClassPty, SendOnALineThatStoppedDrainingFailsAtOnce) {
  TCommClass port(nullptr, true);
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  ASSERT_TRUE(master_.hold_output(true));
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    master_.hold_output(false);
  });
  EXPECT_FALSE(port.SendText("#01HD\r"));
  release.join();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(DrainMaster(master_), "");
  EXPECT_TRUE(port.SendText("#10HD\r"));
  EXPECT_EQ(ReadMaster(master_, 6), "#10HD\r");
}

TEST_F(TCommClassPty, SendThatFindsTheQueueFullFailsButKeepsThePort) {
  TCommClass port(nullptr, true);
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  // Nobody reads the master side: the line's buffers fill and a send finally finds no room.
  const std::string frame(255, 'x');
  bool failed = false;
  for (int i = 0; i < 10000 && !failed; ++i) failed = !port.SendText(frame);
  ASSERT_TRUE(failed);
  EXPECT_TRUE(port.IsOpen());  // a slow line is not a vanished one
  DrainMaster(master_);
  EXPECT_TRUE(port.SendText("#01HD\r"));
  const std::string tail = DrainMaster(master_, 200);
  ASSERT_GE(tail.size(), 6u);
  EXPECT_EQ(tail.substr(tail.size() - 6), "#01HD\r");
}

TEST_F(TCommClassPty, ReadAllCollectsWithoutWaitingAndSendClearsIt) {
  TCommClass port(nullptr, true);
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  EXPECT_EQ(port.ReadAll(), "");  // nothing there: returns at once

  ASSERT_TRUE(master_.write("=12.5", 5, kWaitMs));
  EXPECT_EQ(ReadAllUntil(port, 5), "=12.5");
  ASSERT_TRUE(master_.write("AJE\r", 4, kWaitMs));
  EXPECT_EQ(ReadAllUntil(port, 9), "=12.5AJE\r");
  // No new input: the same text again.
  EXPECT_EQ(port.ReadAll(), "=12.5AJE\r");
  EXPECT_EQ(port.ReadAll(), "=12.5AJE\r");
  EXPECT_EQ(port.ReceivedText, "=12.5AJE\r");

  ASSERT_TRUE(port.SendText("#01HD\r"));
  EXPECT_EQ(port.ReceivedText, "");
  EXPECT_EQ(port.ReadAll(), "");
}

TEST_F(TCommClassPty, ReadAllTakesAtMostInBufSizePerCall) {
  TCommClass port(nullptr, true);
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  port.InBufSize = 4;
  ASSERT_TRUE(master_.write("0123456789", 10, kWaitMs));
  std::string text = port.ReadAll();
  for (int i = 0; i < kWaitMs && text.empty(); ++i) {
    plat::sleep_ms(1);
    text = port.ReadAll();
  }
  EXPECT_GE(text.size(), 1u);
  EXPECT_LE(text.size(), 4u);
  EXPECT_EQ(ReadAllUntil(port, 10), "0123456789");
}

TEST_F(TCommClassPty, PurgeInputDiscardsWhatArrivedAndWhatWasCollected) {
  TCommClass port(nullptr, true);
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  port.InBufSize = 1;  // one byte per ReadAll, so the rest stays queued in the OS
  ASSERT_TRUE(master_.write("Xjunk", 5, kWaitMs));
  ASSERT_EQ(ReadAllUntil(port, 1), "X");
  port.PurgeInput();
  EXPECT_EQ(port.ReceivedText, "");
  EXPECT_TRUE(port.IsOpen());
  ASSERT_TRUE(master_.write("Z", 1, kWaitMs));
  EXPECT_EQ(ReadAllUntil(port, 1), "Z");
}

TEST_F(TCommClassPty, SendTextDiscardsStaleInputBeforeSending) {
  TCommClass port(nullptr, false);  // even without ClearOnSend the purge clears the text
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  port.InBufSize = 1;
  ASSERT_TRUE(master_.write("Xstale", 6, kWaitMs));
  ASSERT_EQ(ReadAllUntil(port, 1), "X");
  ASSERT_TRUE(port.SendText("#01HD\r"));
  EXPECT_EQ(ReadMaster(master_, 6), "#01HD\r");
  ASSERT_TRUE(master_.write("=", 1, kWaitMs));
  EXPECT_EQ(ReadAllUntil(port, 1), "=");
}

TEST_F(TCommClassPty, SecondOpenerIsRefusedWithItsStatusText) {
  TCommClass first(nullptr, true), second(nullptr, true);
  ASSERT_TRUE(OpenPort(first, MakeBlock(kComPort)));
  std::string msg;
  EXPECT_FALSE(OpenPort(second, MakeBlock(kComPort), &msg));
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(msg, "Com3" + GBK("不存在或被其它程序占用！"));
  EXPECT_EQ(second.StatusText, msg);
  // The retry ran on the driver's clock: at least 5 s of it passed.
  EXPECT_GT(clock_, TCommClass::kOpenRetryMs);
  // A send on the refused port tries again and sends nothing.
  EXPECT_FALSE(second.SendText("#01HD\r"));
  EXPECT_EQ(DrainMaster(master_), "");

  first.Close();
  EXPECT_TRUE(OpenPort(second, MakeBlock(kComPort), &msg));
  EXPECT_EQ(msg, "Com3" + GBK("打开成功"));
}

TEST_F(TCommClassPty, PortNumbersOutsideTheTableAreRefused) {
  TCommClass port(nullptr, true);
  std::string msg = "untouched";
  EXPECT_FALSE(port.Open(nullptr, msg));
  EXPECT_EQ(msg, GBK("设备参数中的串口设置有误!"));

  PDB block = MakeBlock(16);
  EXPECT_FALSE(OpenPort(port, block, &msg));
  EXPECT_EQ(msg, GBK("设备参数中的串口设置有误!"));
  EXPECT_EQ(
      msg,
      "\xC9\xE8\xB1\xB8\xB2\xCE\xCA\xFD\xD6\xD0\xB5\xC4\xB4\xAE\xBF\xDA\xC9\xE8\xD6\xC3\xD3\xD0\xCE\xF3!");
  EXPECT_EQ(port.StatusText, msg);
  EXPECT_EQ(port.PortName, "Com1");  // no other port is tried
  EXPECT_FALSE(port.IsOpen());
  block.ComPort = 255;
  EXPECT_FALSE(OpenPort(port, block, &msg));

  // Damaged line indices are refused the same way.
  for (uint8_t PDB::*field : {&PDB::BaudRate, &PDB::DataBits, &PDB::StopBits, &PDB::Parity}) {
    block = MakeBlock(kComPort);
    block.*field = 15;
    EXPECT_FALSE(OpenPort(port, block, &msg));
    EXPECT_EQ(msg, GBK("设备参数中的串口设置有误!"));
    EXPECT_FALSE(port.IsOpen());
  }

  // A refused block leaves an open port as it was.
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  EXPECT_FALSE(OpenPort(port, MakeBlock(16), &msg));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_TRUE(port.SendText("#01HD\r"));
  EXPECT_EQ(ReadMaster(master_, 6), "#01HD\r");
}

TEST_F(TCommClassPty, HighPortNumbersAndOpeningAgainKeepsTheFirstDevice) {
  plat::Pty tenth;
  ASSERT_EQ(tenth.open_pair(), plat::OpenResult::Ok) << plat::last_error_text();
  plat::set_env("KORVELPLNK_COM10", tenth.path());
  TCommClass port(nullptr, true);
  std::string msg;
  ASSERT_TRUE(OpenPort(port, MakeBlock(9), &msg));
  EXPECT_EQ(port.PortName, "Com10");
  EXPECT_EQ(msg, "Com10" + GBK("打开成功"));

  // Another port number while open: the name and the report change, the device does not.
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort), &msg));
  EXPECT_EQ(port.PortName, "Com3");
  EXPECT_EQ(msg, "Com3" + GBK("打开成功"));
  ASSERT_TRUE(port.SendText("#01HD\r"));
  EXPECT_EQ(ReadMaster(tenth, 6), "#01HD\r");
  EXPECT_EQ(DrainMaster(master_), "");
  plat::unset_env("KORVELPLNK_COM10");
}

TEST_F(TCommClassPty, MissingDevicesAndPlainFilesAreReported) {
  TCommClass port(nullptr, true);
  Repoint((dir_ / "nothing-here").string());
  std::string msg;
  EXPECT_FALSE(OpenPort(port, MakeBlock(kComPort), &msg));
  EXPECT_EQ(msg, "Com3" + GBK("不存在或被其它程序占用！"));

  const auto file = dir_ / "plain-file";
  FILE* f = fopen(file.string().c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  Repoint(file.string());
  port.StatusText = "Com3" + GBK("打开成功");  // a stale success must not survive
  EXPECT_FALSE(OpenPort(port, MakeBlock(kComPort), &msg));
  EXPECT_EQ(msg, "Com3" + GBK("不存在或被其它程序占用！"));
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(TCommClassPty, AnOpenFailureKeepsTheSystemsReasonAndWaitsOnlyWhenWaitingCanHelp) {
  TCommClass port(nullptr, true);
  const auto file = dir_ / "plain-file";
  FILE* f = fopen(file.string().c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  struct Case {
    std::filesystem::path path;
    std::string reason;
    bool retried;
  };
  for (const Case& c : {Case{dir_ / "nothing-here", std::strerror(ENOENT), true},
                        Case{dir_, std::strerror(EISDIR), false}, Case{file, "not a serial device", false}}) {
    Repoint(c.path.string());
    std::string msg;
    const uint64_t before = clock_;
    EXPECT_FALSE(OpenPort(port, MakeBlock(kComPort), &msg)) << c.path;
    // The host's text stays the library's own; the reason is kept beside it for the log.
    EXPECT_EQ(msg, "Com3" + GBK("不存在或被其它程序占用！"));
    EXPECT_NE(port.OpenFailure.find(": " + c.reason), std::string::npos) << port.OpenFailure;
    EXPECT_EQ(clock_ - before > TCommClass::kOpenRetryMs, c.retried) << c.path;
  }
  Repoint(master_.path());
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  EXPECT_EQ(port.OpenFailure, "");
}

TEST_F(TCommClassPty, VanishedLineIsClosedAndTheNextSendReopensIt) {
  TCommClass port(nullptr, true);
  ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
  ASSERT_TRUE(port.SendText("#01HD\r"));
  ASSERT_EQ(ReadMaster(master_, 6), "#01HD\r");

  // The line goes away while an answer is awaited; its device name goes with it (the number of
  // a closed pseudo-terminal may be reused at once by someone else's pair).
  master_.close();
  Repoint((dir_ / "gone").string());
  EXPECT_EQ(port.ReadAll(), "");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.ReadAll(), "");

  // While nothing is there the send retries, fails and sends nothing.
  EXPECT_FALSE(port.SendText("#01HD\r"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.StatusText, "Com3" + GBK("不存在或被其它程序占用！"));

  // A new line appears under the same name: the next send reopens it and goes out.
  plat::Pty back;
  ASSERT_EQ(back.open_pair(), plat::OpenResult::Ok) << plat::last_error_text();
  Repoint(back.path());
  EXPECT_TRUE(port.SendText("#02HE\r"));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.StatusText, "Com3" + GBK("打开成功"));
  EXPECT_EQ(ReadMaster(back, 6), "#02HE\r");
  ASSERT_TRUE(back.write("=4.5AGF\r", 8, kWaitMs));
  EXPECT_EQ(ReadAllUntil(port, 8), "=4.5AGF\r");

  // Gone between polls and found by the send itself: that send fails, the next one reopens.
  back.close();
  EXPECT_FALSE(port.SendText("#01HD\r"));
  EXPECT_FALSE(port.IsOpen());
  ASSERT_EQ(back.open_pair(), plat::OpenResult::Ok) << plat::last_error_text();
  Repoint(back.path());
  EXPECT_TRUE(port.SendText("#01HD\r"));
  EXPECT_EQ(ReadMaster(back, 6), "#01HD\r");
}

TEST_F(TCommClassPty, NoDescriptorLeaksAcrossReopenings) {
  const size_t before = OpenDescriptors();
  {
    TCommClass port(nullptr, true);
    for (int i = 0; i < 100; ++i) {
      ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
      port.Close();
      port.Close();
    }
    for (int i = 0; i < 100; ++i) {
      plat::Pty line;
      ASSERT_EQ(line.open_pair(), plat::OpenResult::Ok) << plat::last_error_text();
      Repoint(line.path());
      ASSERT_TRUE(port.SendText("#01HD\r"));
      ASSERT_EQ(ReadMaster(line, 6), "#01HD\r");
      line.close();
      port.ReadAll();
      ASSERT_FALSE(port.IsOpen());
    }
    // Refused openers give back what they tried.
    Repoint(master_.path());
    ASSERT_TRUE(OpenPort(port, MakeBlock(kComPort)));
    TCommClass refused(nullptr, true);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(OpenPort(refused, MakeBlock(kComPort)));
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace korvel::serial_test
