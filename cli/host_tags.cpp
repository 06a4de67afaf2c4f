#include "cli/host_tags.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/PDB.h"
#include "platform/files.h"
#include "platform/text.h"

namespace korvel::cli {

std::string default_library(const void* anchor, const std::string& installed) {
  const std::string here = plat::module_dir_of(anchor);
  const std::string built = here + "/../KorvelPLNK.so";
  if (plat::file_exists(built)) return built;
  return here + "/" + installed;
}

bool load_library(const std::string& path, plat::DynLib& lib, HostExports& x, const char* prog) {
  if (lib.open(path) != plat::OpenResult::Ok) {
    std::fprintf(stderr, "%s: cannot load %s: %s\n", prog, path.c_str(), plat::last_error_text().c_str());
    return false;
  }
  if (!bind_exports(lib, x, prog)) return false;
  if (x.GetPDBLen() != static_cast<int32_t>(sizeof(PDB))) {
    std::fprintf(stderr, "%s: the library's parameter block has %d bytes, expected %zu\n", prog,
                 x.GetPDBLen(), sizeof(PDB));
    return false;
  }
  return true;
}

std::vector<TTagInfo> tag_infos(const std::vector<TagSpec>& tags, int32_t first_id) {
  std::vector<TTagInfo> infos(tags.size());
  for (size_t i = 0; i < tags.size(); ++i) {
    TTagInfo& t = infos[i];
    std::memset(&t, 0, sizeof t);
    t.TagID = first_id + static_cast<int32_t>(i);
    std::snprintf(t.TagName, sizeof t.TagName, "%s", tags[i].name.c_str());
    std::snprintf(t.TagAddr, sizeof t.TagAddr, "%s", tags[i].address.c_str());
    t.TagType = tags[i].type;
    t.ScanPeriod = tags[i].period;
  }
  return infos;
}

std::vector<TTagInfo*> tag_pointers(std::vector<TTagInfo>& infos) {
  std::vector<TTagInfo*> p;
  p.reserve(infos.size());
  for (TTagInfo& t : infos) p.push_back(&t);
  return p;
}

std::string take_message(char* msg) {
  if (msg == nullptr) return std::string();
  std::string text = plat::gbk_to_utf8(msg);
  std::free(msg);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace korvel::cli
