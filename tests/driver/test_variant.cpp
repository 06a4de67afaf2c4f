// The driver's value type: comparison rules the change report relies on, conversions, ownership.
#include <gtest/gtest.h>

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
