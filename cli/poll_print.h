// How korvel-poll prints what the library reports: change lines, the live table, CSV rows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/blockfile.h"
#include "driver/records.h"

namespace korvel::cli {

// What the host has seen of one tag.
struct Row {
  std::string value;
  uint32_t status = 0;
  double time = 0;
  bool seen = false;
};

// One CSV field: quoted when it holds a separator, a quote, a line end or outer blanks.
std::string csv_field(const std::string& text);
void print_csv_header();
// Rows and JSON lines carry the raw status word, the tag's module (empty / null for tags of the
// line) and the word's flags by name.
void print_csv_row(const TagSpec& tag, const std::string& value, uint32_t status, double time);
// One reported change as a JSON line (without its line end); text: the value is a string.
std::string json_change(const TagSpec& tag, const std::string& value, bool text, uint32_t status,
                        double time);
// One reported change as a line of the plain output.
void print_change_line(const TagSpec& tag, const std::string& value, uint32_t status, double time);
// The whole table, redrawn on a terminal.
void print_live_table(const std::vector<TagSpec>& tags, const std::vector<Row>& rows, long polls);
// A reported value as text (UTF-8).
std::string value_text(const TTagValue& v);

}  // namespace korvel::cli
