// Display widths for the polling tool's tables.
#include <gtest/gtest.h>

#include "cli/textwidth.h"

using korvel::cli::display_width;
using korvel::cli::pad_to;

TEST(TextWidth, ChineseTakesTwoColumns) {
  EXPECT_EQ(display_width("PV1:1"), 5u);
  EXPECT_EQ(display_width("通讯正常"), 8u);
  EXPECT_EQ(display_width("1号智能模块PLNK"), 15u);
  EXPECT_EQ(display_width("严重故障：连续"), 14u) << "full-width punctuation is wide";
  EXPECT_EQ(display_width("e\xCC\x81"), 1u) << "a combining accent takes no column";
  EXPECT_EQ(display_width(""), 0u);
}

TEST(TextWidth, BrokenBytesCountOneEach) {
  EXPECT_EQ(display_width("\xE4\xB8"), 2u) << "a cut sequence";
  EXPECT_EQ(display_width("a\xFF"
                          "b"),
            3u);
  EXPECT_EQ(display_width("\xE4\x41\x42"), 3u) << "a lead byte followed by ASCII";
}

TEST(TextWidth, PaddingFillsToTheColumn) {
  EXPECT_EQ(pad_to("链路", 6), "链路  ");
  EXPECT_EQ(pad_to("abc", 2), "abc");
  EXPECT_EQ(display_width(pad_to("通讯始终不成功!", 20)), 20u);
}
