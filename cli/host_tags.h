// What every command-line host does around the exports: loading the library, handing it the tag
// descriptors, taking the texts it hands out.
#pragma once
#include <string>
#include <vector>

#include "cli/blockfile.h"
#include "cli/host_exports.h"
#include "driver/records.h"

namespace korvel::cli {

// The library beside the build tree's tools (anchor: an address in the program), else the one
// installed at installed (relative to the program's directory).
std::string default_library(const void* anchor, const std::string& installed);

// Loads the library at path and binds its exports; false, with the reason after prog on standard
// error, when it cannot be loaded, an export is missing or its parameter block has another size.
bool load_library(const std::string& path, plat::DynLib& lib, HostExports& x, const char* prog);

// The descriptors the library gets for tags, with the host identifiers first_id, first_id + 1 ...
std::vector<TTagInfo> tag_infos(const std::vector<TagSpec>& tags, int32_t first_id = 1);
// Pointers to the descriptors, as IniDriver takes them.
std::vector<TTagInfo*> tag_pointers(std::vector<TTagInfo>& infos);

// A text the library handed out, as UTF-8 without its line end; frees it. "" for null.
std::string take_message(char* msg);

}  // namespace korvel::cli
