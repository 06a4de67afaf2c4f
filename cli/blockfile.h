// Parameter blocks and tag lists as the command-line tools read and write them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/PDB.h"

namespace korvel::cli {

// A block with the library's defaults (the same as FullPDB on a zeroed block).
std::unique_ptr<PDB> new_block();
// Reads a block file of exactly 26508 bytes; false with the reason in err.
bool load_block(const std::string& path, PDB& block, std::string& err);
bool save_block(const std::string& path, const PDB& block, std::string& err);

// The module entries the driver's block check voids (their type name does not match their type,
// as in a damaged or foreign block), as a warning to print; empty when it voids none.
std::string voided_entries_warning(const PDB& block);

// Configures module n (0..99) in entry n with its family name "PLNE" or "PLNK" (the name the
// block check expects). False with the reason in err.
bool add_module(PDB& block, const std::string& spec, std::string& err);
// Index of a line rate in the block's rate table, -1 when the table has no such rate.
int baud_index(uint32_t rate);
// Sets one field from "name=value": a setting in the user's terms (Baud=115200, Port=COM3,
// Parity=even, DataBits=8, StopBits=1.5, TimeOut=200) or a raw field under its JSON name
// (BaudRate=12, ComPort=2 ...; DataBitsCode and StopBitsCode for the raw codes). Every value is
// checked against the block's tables; a refusal names the allowed values in err.
bool set_field(PDB& block, const std::string& assignment, std::string& err);
// The setting and raw field names set_field takes, for help texts.
std::string field_names();

// The block as JSON (texts converted from GBK to UTF-8); configured modules only. A text that
// does not survive the conversion back to GBK is also given as hex bytes ("PhoneNumHex").
std::string block_json(const PDB& block);
// Builds a block from JSON as block_json writes it: fields the JSON shows are taken byte for byte,
// the others from the defaults; values are checked as set_field checks them.
bool block_from_json(const std::string& json, PDB& block, std::string& err);
// One line per field that differs: "Name: a -> b" (every field of the layout, padding included).
std::vector<std::string> block_diff(const PDB& a, const PDB& b);

struct TagSpec {
  std::string name;
  std::string address;
  uint8_t type = 0;  // 0 real, 1 boolean, 2 string
  int32_t period = 1000;
};
// Parses "name,address,type,period" (type real|bool|string or 0|1|2; period optional).
bool parse_tag(const std::string& line, TagSpec& tag, std::string& err);
// Reads a tag list file: one tag a line, "#" comments, an optional header line "name,...", a
// leading UTF-8 byte order mark dropped.
bool load_tags(const std::string& path, std::vector<TagSpec>& tags, std::string& err);
// The tags a demonstration polls for the configured modules of a block.
std::vector<TagSpec> default_tags(const PDB& block);

// JSON string literal of a UTF-8 text.
std::string json_string(const std::string& utf8);

}  // namespace korvel::cli
