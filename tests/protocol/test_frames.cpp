// The pure wire-format functions: worked request frames, check characters, answer acceptance and
// decoding.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "protocol/Frames.h"
#include "tests/protocol/frame_reference.h"

namespace korvel::proto {
namespace {

TEST(CheckChars, AppendsHighAndLowNibbleFromAt) {
  EXPECT_EQ(CheckCRC("abc"), "abcBF");  // 294 mod 256 = 0x26
  EXPECT_EQ(CheckChars(""), "@@");
  // A byte sum that is a multiple of 256 gives two at signs.
  EXPECT_EQ(CheckChars(std::string("\x80\x80", 2)), "@@");
  EXPECT_EQ(CheckChars(std::string(1, '\xFF')), "OO");
}

TEST(RequestFrame, WorkedFramesByteForByte) {
  EXPECT_EQ(RequestFrame(0, 1, 1, false, false), "#01HD\r");
  EXPECT_EQ(RequestFrame(1, 1, 3, false, false), "#01HD\r");  // PV_ALARM asks like PV
  EXPECT_EQ(RequestFrame(0, 7, 1, false, false), "#07HJ\r");
  EXPECT_EQ(RequestFrame(2, 1, 10, false, false), "$010AOF\r");
  EXPECT_EQ(RequestFrame(3, 1, 1, false, false), "#010001DE\r");
  const std::string bytes = RequestFrame(2, 1, 10, false, false);
  const unsigned char want[] = {0x24, 0x30, 0x31, 0x30, 0x41, 0x4F, 0x46, 0x0D};
  ASSERT_EQ(bytes.size(), sizeof want);
  for (size_t i = 0; i < sizeof want; ++i) EXPECT_EQ(static_cast<unsigned char>(bytes[i]), want[i]) << i;
}

TEST(RequestFrame, PasswordWriteAndUnsupportedDirections) {
  EXPECT_EQ(RequestFrame(4, 3, 0, true, true), CheckCRC("%0310+07342") + "\r");
  // Switching the password off sends nothing.
  EXPECT_EQ(RequestFrame(4, 3, 0, true, false), "");
  // Directions the type does not support carry no text: just the check characters of nothing.
  EXPECT_EQ(RequestFrame(4, 3, 0, false, true), "@@\r");
  EXPECT_EQ(RequestFrame(0, 3, 1, true, true), "@@\r");
  EXPECT_EQ(RequestFrame(-1, 3, 1, false, false), "");
  EXPECT_EQ(RequestFrame(5, 3, 1, false, false), "");
}

TEST(RequestFrame, AddressAndParameterFormatting) {
  EXPECT_EQ(DevAddrText(0), "00");
  EXPECT_EQ(DevAddrText(5), "05");
  EXPECT_EQ(DevAddrText(12), "12");
  EXPECT_EQ(DevAddrText(99), "99");
  EXPECT_EQ(DevAddrText(100), "100");  // outside the module table: as the formatter writes it
  EXPECT_EQ(DevAddrText(-1), "-1");
  EXPECT_EQ(ParmNoText(10), "0A");
  EXPECT_EQ(ParmNoText(255), "FF");
  EXPECT_EQ(ParmNoText(256), "100");
  EXPECT_EQ(RequestFrame(2, 0, 255, false, false), CheckCRC("$00FF") + "\r");
}

TEST(AnswerHead, HexDeviceAndStartCharacter) {
  EXPECT_EQ(AnswerHead(0, 10, false), "=0A");
  EXPECT_EQ(AnswerHead(1, 1, false), "=01");
  EXPECT_EQ(AnswerHead(2, 1, false), "!01");
  EXPECT_EQ(AnswerHead(3, 99, false), "=63");
  EXPECT_EQ(AnswerHead(4, 1, true), "");
  EXPECT_EQ(AnswerHead(0, 1, true), "");
  EXPECT_EQ(AnswerHead(-1, 1, false), "");
}

TEST(CommandRange, BlockOfTheTypeUntilTheFrameIsReady) {
  // PV_ALARM blocks of four channels.
  EXPECT_EQ(CommandStartAddr(1, false, 3, 3), 0);
  EXPECT_EQ(CommandEndAddr(1, false, 3, 3), 3);
  EXPECT_EQ(CommandStartAddr(1, false, 4, 4), 4);
  EXPECT_EQ(CommandEndAddr(1, false, 4, 4), 7);
  EXPECT_EQ(CommandStartAddr(1, false, 6, 6), 4);
  EXPECT_EQ(CommandAddrLength(0, false, 1, 1), 1);
  // Ready frames cover their tags' own range.
  EXPECT_EQ(CommandAddrLength(1, true, 1, 4), 4);
  EXPECT_EQ(CommandStartAddr(1, true, 2, 3), 2);
  EXPECT_EQ(CommandEndAddr(1, true, 2, 3), 3);
  // No address type: length 1, start and end 0.
  EXPECT_EQ(CommandAddrLength(-1, false, 5, 5), 1);
  EXPECT_EQ(CommandStartAddr(-1, false, 5, 5), 0);
  EXPECT_EQ(CommandEndAddr(-1, false, 5, 5), 0);
  // An empty ready range (length 0) yields 0 rather than a division by zero.
  EXPECT_EQ(CommandStartAddr(1, true, 5, 4), 0);
  // A negative channel stays inside its own block.
  EXPECT_EQ(CommandStartAddr(1, false, -1, -1), -4);
}

// The worked answer: device 1 answers =12.5A, check characters J and E.
const std::string kWorked = "=12.5AJE\r";

TEST(AnswerCheck, WorkedAnswerAccepted) {
  EXPECT_EQ(CrcSource(1, kWorked), "01=12.5A");
  EXPECT_EQ(ByteSum("01=12.5A"), 0xA5);
  const unsigned char want[] = {0x3D, 0x31, 0x32, 0x2E, 0x35, 0x41, 0x4A, 0x45, 0x0D};
  ASSERT_EQ(kWorked.size(), sizeof want);
  for (size_t i = 0; i < sizeof want; ++i) EXPECT_EQ(static_cast<unsigned char>(kWorked[i]), want[i]);
  EXPECT_TRUE(AnswerValid(1, kWorked));
  EXPECT_EQ(AnswerBody(kWorked), "12.5A");
  EXPECT_FALSE(AnswerRefused(kWorked));
}

TEST(AnswerCheck, RejectsDamagedForeignAndTrailingAnswers) {
  // The device address enters the check: the same text from device 2 fails.
  EXPECT_FALSE(AnswerValid(2, kWorked));
  EXPECT_FALSE(AnswerValid(1, "=12.5AJF\r"));
  EXPECT_FALSE(AnswerValid(1, "=12.6AJE\r"));
  // A byte after the CR makes a complete but wrong answer.
  EXPECT_TRUE(AnswerComplete(kWorked + "X"));
  EXPECT_FALSE(AnswerValid(1, kWorked + "X"));
  EXPECT_FALSE(AnswerValid(1, "Z" + kWorked));
  // Cut before the CR: incomplete.
  EXPECT_FALSE(AnswerComplete("=12.5AJE"));
  EXPECT_FALSE(AnswerValid(1, "=12.5AJE"));
  // Degenerate lengths never read outside the text.
  EXPECT_FALSE(AnswerValid(1, ""));
  EXPECT_FALSE(AnswerValid(1, "\r"));
  EXPECT_FALSE(AnswerValid(1, "A\r"));
  EXPECT_FALSE(AnswerValid(1, "AB\r"));
  EXPECT_EQ(CrcSource(1, "\r"), "01");
  EXPECT_EQ(AnswerBody("=JE\r"), "");
}

// The check compares in place; it must accept exactly the answers whose whole frame, built as the
// protocol states it, equals them: right ones, one character off, cut, extended, any station.
TEST(AnswerCheck, InPlaceCheckAgreesWithTheBuiltFrame) {
  std::mt19937 rng(11);
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    const int32_t dev = static_cast<int32_t>(rng() % 130) - 10;
    std::string text(rng() % 40, ' ');
    for (char& c : text) c = static_cast<char>(rng() % 2 ? 0x20 + rng() % 0x5F : rng() % 256);
    std::string answer =
        rng() % 3 ? CheckCRC(DevAddrText(dev) + text).substr(DevAddrText(dev).size()) + "\r" : text;
    if (rng() % 4 == 0 && !answer.empty()) answer[rng() % answer.size()] = static_cast<char>(rng() % 256);
    if (rng() % 8 == 0) answer += static_cast<char>(rng() % 256);
    if (rng() % 8 == 0 && !answer.empty()) answer.pop_back();
    const bool valid = AnswerValid(dev, answer);
    ASSERT_EQ(valid, AnswerValidByFrame(dev, answer)) << dev << " " << answer;
    accepted += valid ? 1 : 0;
  }
  EXPECT_GT(accepted, 5000);
}

TEST(AnswerCheck, RefusalIsAValidFrameWithAQuestionMark) {
  const std::string refusal = CheckCRC("01?").substr(2) + "\r";
  EXPECT_TRUE(AnswerValid(1, refusal));
  EXPECT_TRUE(AnswerRefused(refusal));
}

TEST(ParseNumber, PlainDecimalOnly) {
  double v = 0;
  EXPECT_TRUE(ParseNumber("12.5", &v));
  EXPECT_EQ(v, 12.5);
  EXPECT_TRUE(ParseNumber("-3.75", &v));
  EXPECT_EQ(v, -3.75);
  EXPECT_TRUE(ParseNumber("+7", &v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(ParseNumber(" .5 ", &v));
  EXPECT_EQ(v, 0.5);
  EXPECT_TRUE(ParseNumber("1E3", &v));
  EXPECT_EQ(v, 1000);
  for (const char* bad : {"", " ", "-", ".", "1,5", "1.2.3", "abc", "0x1A", "inf", "nan", "1e", "1e400",
                          "12 5", "--1", "1e+"}) {
    EXPECT_FALSE(ParseNumber(bad, &v)) << bad;
  }
}

TEST(DecodeValue, WorkedAnswerIntoEachKindOfTag) {
  const std::string body = "12.5A";  // 'A' = 0x41
  EXPECT_EQ(DecodeValue(0, 0, 1, body, Variant(0.0)), Variant(12.5));
  EXPECT_EQ(DecodeValue(1, 1, 1, body, Variant(false)), Variant(true));
  EXPECT_EQ(DecodeValue(1, 1, 2, body, Variant(true)), Variant(false));
  const Variant status = DecodeValue(1, 0, 1, body, Variant(0.0));
  EXPECT_EQ(status.kind(), Variant::Kind::Int);
  EXPECT_EQ(status, Variant(65));
  EXPECT_EQ(DecodeValue(0, 2, 1, body, Variant("")), Variant("12.5A"));
  // Numeric switch tags are true exactly when the value rounds to 1 (halves to even).
  EXPECT_EQ(DecodeValue(0, 1, 1, "1.4A", Variant(false)), Variant(true));
  EXPECT_EQ(DecodeValue(0, 1, 1, "1.5A", Variant(true)), Variant(false));
  EXPECT_EQ(DecodeValue(0, 1, 1, "0.5A", Variant(true)), Variant(false));
  // PARM and AO decode like PV.
  EXPECT_EQ(DecodeValue(2, 0, 26, "26A", Variant(0.0)), Variant(26.0));
  EXPECT_EQ(DecodeValue(3, 0, 1, "4.5A", Variant(0.0)), Variant(4.5));
}

TEST(DecodeValue, AlarmBitsPerChannel) {
  const std::string body = std::string("0") + static_cast<char>(0x80);
  EXPECT_EQ(DecodeValue(1, 1, 8, body, Variant(false)), Variant(true));  // channel 8 reads bit 7
  EXPECT_EQ(DecodeValue(1, 1, 7, body, Variant(true)), Variant(false));
  EXPECT_EQ(DecodeValue(1, 0, 1, body, Variant(0.0)), Variant(128));  // no sign from a high byte
  // Channels without a bit in the status character read false instead of shifting wildly.
  EXPECT_EQ(DecodeValue(1, 1, 0, body, Variant(true)), Variant(false));
  EXPECT_EQ(DecodeValue(1, 1, 9, body, Variant(true)), Variant(false));
  EXPECT_EQ(DecodeValue(1, 1, -5, body, Variant(true)), Variant(false));
}

TEST(DecodeValue, UnusableBodyKeepsTheValue) {
  EXPECT_EQ(DecodeValue(0, 0, 1, "abcA", Variant(7.25)), Variant(7.25));
  EXPECT_EQ(DecodeValue(0, 1, 1, "abcA", Variant(true)), Variant(true));
  EXPECT_EQ(DecodeValue(0, 1, 1, "abcA", Variant(false)), Variant(false));
  EXPECT_EQ(DecodeValue(0, 0, 1, "", Variant(7.25)), Variant(7.25));
  EXPECT_EQ(DecodeValue(1, 0, 1, "", Variant(3)), Variant(3));
  EXPECT_EQ(DecodeValue(1, 1, 1, "", Variant(true)), Variant(true));
  EXPECT_EQ(DecodeValue(0, 2, 1, "", Variant("x")), Variant(""));
  // Types without decoding leave the value alone.
  EXPECT_EQ(DecodeValue(4, 1, 0, "1A", Variant(false)), Variant(false));
  EXPECT_EQ(DecodeValue(-1, 0, 0, "1A", Variant(2.0)), Variant(2.0));
}

TEST(ProtocolTable, OnlyThePasswordIsWritable) {
  for (int t = 0; t < 4; ++t) {
    EXPECT_TRUE(IsReadable(t));
    EXPECT_FALSE(IsWritable(t));
  }
  EXPECT_FALSE(IsReadable(4));
  EXPECT_TRUE(IsWritable(4));
  EXPECT_FALSE(IsReadable(-1));
  EXPECT_FALSE(IsWritable(99));
}

}  // namespace
}  // namespace korvel::proto
