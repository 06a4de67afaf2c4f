#include <gtest/gtest.h>

#include "sim/wire.h"

namespace korvel::sim {
namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

TEST(Wire, CheckCharactersAreTheNibblesOfTheByteSum) {
  EXPECT_EQ(check_chars("abc"), "BF");  // 294 mod 256 = 0x26
  EXPECT_EQ(check_chars(""), "@@");
  EXPECT_EQ(check_chars(std::string(2, '\x80')), "@@");  // sum 256
  EXPECT_EQ(check_chars("\xFF"), "OO");
  EXPECT_EQ(byte_sum("\xFF\x02"), 1);
}

TEST(Wire, WorkedRequestFrames) {
  EXPECT_EQ(request_frame("#01"), bytes({0x23, 0x30, 0x31, 0x48, 0x44, 0x0D}));
  EXPECT_EQ(request_frame("#07"), bytes({0x23, 0x30, 0x37, 0x48, 0x4A, 0x0D}));
  EXPECT_EQ(request_frame("$010A"), bytes({0x24, 0x30, 0x31, 0x30, 0x41, 0x4F, 0x46, 0x0D}));
  EXPECT_EQ(request_frame("#010001"), bytes({0x23, 0x30, 0x31, 0x30, 0x30, 0x30, 0x31, 0x44, 0x45, 0x0D}));
}

TEST(Wire, WorkedAnswerFrameCarriesTheStationOnlyInItsCheck) {
  EXPECT_EQ(answer_frame(1, "=12.5A"), bytes({0x3D, 0x31, 0x32, 0x2E, 0x35, 0x41, 0x4A, 0x45, 0x0D}));
  // Same text from another station: other check characters.
  EXPECT_NE(answer_frame(2, "=12.5A"), answer_frame(1, "=12.5A"));
  EXPECT_EQ(answer_body(1, "=12.5A"), "=12.5AJE");
}

TEST(Wire, ParsesTheWorkedRequests) {
  Request r = parse_request("#01HD");
  EXPECT_EQ(r.kind, RequestKind::Pv);
  EXPECT_EQ(r.station, 1);
  r = parse_request("#07HJ");
  EXPECT_EQ(r.kind, RequestKind::Pv);
  EXPECT_EQ(r.station, 7);
  r = parse_request("$010AOF");
  EXPECT_EQ(r.kind, RequestKind::Parm);
  EXPECT_EQ(r.param, 10);
  r = parse_request("#010001DE");
  EXPECT_EQ(r.kind, RequestKind::Ao);
  EXPECT_EQ(r.station, 1);
}

TEST(Wire, ParsesWritesParametersAndOddRequests) {
  Request r = parse_request("%0110+07342AB");
  EXPECT_EQ(r.kind, RequestKind::Write);
  EXPECT_EQ(r.station, 1);
  EXPECT_EQ(r.payload, kPasswordPayload);

  // Three hexadecimal digits, lower case accepted.
  const std::string p = request_frame("$05100");
  r = parse_request(p.substr(0, p.size() - 1));
  EXPECT_EQ(r.kind, RequestKind::Parm);
  EXPECT_EQ(r.param, 256);
  const std::string q = request_frame("$05ff");
  EXPECT_EQ(parse_request(q.substr(0, q.size() - 1)).param, 255);

  // Addressed but not understood.
  const std::string u = request_frame("#050002");
  r = parse_request(u.substr(0, u.size() - 1));
  EXPECT_EQ(r.kind, RequestKind::Unknown);
  EXPECT_EQ(r.station, 5);
  const std::string g = request_frame("$05G1");
  EXPECT_EQ(parse_request(g.substr(0, g.size() - 1)).kind, RequestKind::Unknown);
}

TEST(Wire, RejectsDamagedRequests) {
  Request r = parse_request("#01HE");
  EXPECT_EQ(r.kind, RequestKind::BadCheck);
  EXPECT_EQ(r.station, 1);
  EXPECT_EQ(parse_request("").kind, RequestKind::Malformed);
  EXPECT_EQ(parse_request("#0").kind, RequestKind::Malformed);
  EXPECT_EQ(parse_request("#A1HD").kind, RequestKind::Malformed);
  EXPECT_EQ(parse_request("hello").kind, RequestKind::Malformed);
  // Noise in front of a good request is skipped.
  r = parse_request("zz#01HD");
  EXPECT_EQ(r.kind, RequestKind::Pv);
  EXPECT_EQ(r.station, 1);
}

}  // namespace
}  // namespace korvel::sim
