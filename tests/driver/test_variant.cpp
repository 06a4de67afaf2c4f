// The driver's value type: comparison rules the change report relies on, conversions, ownership.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "driver/Variant.h"

using korvel::Variant;

TEST(Variant, NumbersCompareByValueAcrossKinds) {
  EXPECT_EQ(Variant(1), Variant(1.0));
  EXPECT_EQ(Variant(true), Variant(-1)) << "a Boolean is -1 as a number";
  EXPECT_EQ(Variant(false), Variant(0.0));
  EXPECT_NE(Variant(true), Variant(1));
  EXPECT_NE(Variant(2.5), Variant(2));
  EXPECT_EQ(Variant(), Variant());
  EXPECT_NE(Variant(), Variant(0)) << "empty is not zero: a first value is always reported";
  EXPECT_NE(Variant("1"), Variant(1)) << "a text and a number are a change";
  EXPECT_EQ(Variant("abc"), Variant(std::string("abc")));
  EXPECT_NE(Variant("abc"), Variant("abd"));
}

TEST(Variant, Conversions) {
  bool ok = true;
  EXPECT_EQ(Variant(2.5).toInt(), 2) << "halves to even";
  EXPECT_EQ(Variant(3.5).toInt(), 4);
  EXPECT_EQ(Variant(true).toDouble(), -1.0);
  EXPECT_TRUE(Variant("TRUE").toBool());
  EXPECT_FALSE(Variant("0").toBool());
  EXPECT_EQ(Variant(" 12.5 ").toDouble(&ok), 12.5) << "blanks around a number are allowed";
  EXPECT_TRUE(ok);
  EXPECT_EQ(Variant("12.5x").toDouble(&ok), 0.0);
  EXPECT_FALSE(ok);
  Variant("1e999").toDouble(&ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Variant(1e300).toInt(&ok), 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Variant(0.1).toString(), "0.1");
  EXPECT_EQ(Variant(false).toString(), "False");
  EXPECT_EQ(Variant(int64_t{-7}).toString(), "-7");
}

TEST(Variant, CopiesOwnTheirTexts) {
  Variant a("first");
  Variant b = a;
  a = Variant(3);
  EXPECT_EQ(b.toString(), "first");
  Variant c(std::move(b));
  EXPECT_EQ(c.toString(), "first");
  c = c;  // self-assignment keeps the text
  EXPECT_EQ(c.toString(), "first");
  Variant d("second");
  d = c;
  EXPECT_EQ(d.toString(), "first");
  std::vector<Variant> many(100, Variant("x"));
  many.resize(1000);
  EXPECT_TRUE(many.back().isEmpty());
  EXPECT_EQ(many.front().toString(), "x");
  EXPECT_EQ(sizeof(Variant), 16u) << "the tag table walks three of these per tag on every poll";
}

TEST(Variant, NaNEqualsNaNSoAStuckValueIsNoChange) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(Variant(nan), Variant(nan));
  EXPECT_EQ(Variant(nan), Variant(-nan));
  EXPECT_NE(Variant(nan), Variant(0.0));
  EXPECT_NE(Variant(0.0), Variant(nan));
  EXPECT_NE(Variant(nan), Variant(0));
  EXPECT_NE(Variant(nan), Variant());
}

namespace {

korvel::OleVariant Ole(uint16_t vt, const void* value, size_t size) {
  korvel::OleVariant v;
  std::memset(&v, 0, sizeof v);
  v.vt = vt;
  std::memcpy(v.bytes, value, size);
  return v;
}
template <class T>
korvel::OleVariant Ole(uint16_t vt, T value) {
  return Ole(vt, &value, sizeof value);
}

}  // namespace

// Initial values of every numeric OLE type are kept, with their values (not their bit patterns).
TEST(Variant, EveryNumericOleTypeConverts) {
  using namespace korvel;
  EXPECT_EQ(Variant::fromOle(Ole<int8_t>(VT_I1, -5)), Variant(-5));
  EXPECT_EQ(Variant::fromOle(Ole<uint8_t>(VT_UI1, 200)), Variant(200));
  EXPECT_EQ(Variant::fromOle(Ole<int16_t>(VT_I2, -300)), Variant(-300));
  EXPECT_EQ(Variant::fromOle(Ole<uint16_t>(VT_UI2, 65535)), Variant(65535));
  EXPECT_EQ(Variant::fromOle(Ole<int32_t>(VT_I4, -70000)), Variant(-70000));
  EXPECT_EQ(Variant::fromOle(Ole<int32_t>(VT_INT, -70001)), Variant(-70001));
  EXPECT_EQ(Variant::fromOle(Ole<uint32_t>(VT_UI4, 4000000000u)), Variant(int64_t{4000000000}));
  EXPECT_EQ(Variant::fromOle(Ole<uint32_t>(VT_UINT, 4000000001u)), Variant(int64_t{4000000001}));
  EXPECT_EQ(Variant::fromOle(Ole<int64_t>(VT_I8, -9000000000LL)), Variant(int64_t{-9000000000LL}));
  EXPECT_EQ(Variant::fromOle(Ole<uint64_t>(VT_UI8, 9000000000ULL)), Variant(int64_t{9000000000LL}));
  EXPECT_EQ(Variant::fromOle(Ole<uint64_t>(VT_UI8, 18446744073709551615ULL)),
            Variant(18446744073709551615.0));
  EXPECT_EQ(Variant::fromOle(Ole<float>(VT_R4, 2.5f)), Variant(2.5));
  EXPECT_EQ(Variant::fromOle(Ole<double>(VT_R8, -1.25)), Variant(-1.25));
  EXPECT_EQ(Variant::fromOle(Ole<double>(VT_DATE, 45000.5)), Variant(45000.5));
  EXPECT_EQ(Variant::fromOle(Ole<int64_t>(VT_CY, 123456)), Variant(12.3456));
  EXPECT_EQ(Variant::fromOle(Ole<int16_t>(VT_BOOL, -1)), Variant(true));
  // DECIMAL -12.345: scale 3, sign bit, magnitude 12345.
  OleVariant dec = Ole<uint64_t>(VT_DECIMAL, 12345);
  dec.reserved1 = 3 | (0x80 << 8);
  EXPECT_EQ(Variant::fromOle(dec), Variant(-12.345));
  dec.reserved1 = 0;
  dec.reserved2 = 1;  // 2^64 + 12345
  EXPECT_EQ(Variant::fromOle(dec), Variant(18446744073709551616.0 + 12345));
  // Nothing numeric: empty.
  EXPECT_TRUE(Variant::fromOle(Ole<int32_t>(VT_EMPTY, 7)).isEmpty());
  EXPECT_TRUE(Variant::fromOle(Ole<int32_t>(VT_NULL, 7)).isEmpty());
  EXPECT_TRUE(Variant::fromOle(Ole<int32_t>(VT_I4 | 0x4000, 7)).isEmpty()) << "a reference is not followed";
}

TEST(Variant, SetTextTakesOrKeepsAText) {
  Variant v(3);
  v.setText("first");
  EXPECT_TRUE(v.holdsText("first"));
  EXPECT_FALSE(v.holdsText("firs"));
  v.setText("a text longer than the short-string buffer");
  EXPECT_EQ(v.toString(), "a text longer than the short-string buffer");
  v.setText("");
  EXPECT_TRUE(v.holdsText(""));
  EXPECT_FALSE(Variant(0).holdsText("0")) << "a number is no text, whatever it reads as";
}
