// Display width of UTF-8 text in a terminal, for tables whose columns hold Chinese texts.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace korvel::cli {

// Columns the text takes: East Asian wide and full-width characters count two, combining marks
// and control characters none, anything else (an invalid byte included) one.
size_t display_width(std::string_view utf8);
// The text followed by blanks up to width columns (unchanged when it is already as wide).
std::string pad_to(std::string_view utf8, size_t width);

}  // namespace korvel::cli
