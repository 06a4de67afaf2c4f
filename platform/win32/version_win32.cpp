#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "platform/text.h"
#include "platform/version.h"
#include "platform/win32/module_win32.h"

namespace korvel::plat {
namespace {

std::wstring widen(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string to_gbk(const wchar_t* w, size_t len) {
  if (len == 0) return {};
  const int n = WideCharToMultiByte(936, 0, w, static_cast<int>(len), nullptr, 0, "?", nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(936, 0, w, static_cast<int>(len), out.data(), n, "?", nullptr);
  return out;
}

std::string base_name(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// This library and the running program are found where they were loaded from, whatever the search
// path; any other name goes through the system's usual search.
std::string locate(const std::string& file_name) {
  const std::string own = win32::module_file(win32::own_module());
  if (!own.empty() && iequals(base_name(own), base_name(file_name))) return own;
  const std::string exe = win32::module_file(nullptr);
  if (!exe.empty() && iequals(base_name(exe), base_name(file_name))) return exe;
  return file_name;
}

// One node of the version block: length, value length, type, key, then value and children, each
// aligned to four bytes from the start of the block.
struct Node {
  const BYTE* at = nullptr;
  size_t length = 0;
  std::wstring key;
  const BYTE* children = nullptr;
  const BYTE* end = nullptr;
};

bool read_node(const BYTE* base, const BYTE* at, const BYTE* limit, Node* n) {
  if (limit - at < 6) return false;
  const WORD length = *reinterpret_cast<const WORD*>(at);
  const WORD value_length = *reinterpret_cast<const WORD*>(at + 2);
  const WORD type = *reinterpret_cast<const WORD*>(at + 4);
  if (length < 6 || at + length > limit) return false;
  n->at = at;
  n->length = length;
  n->end = at + length;
  const auto* k = reinterpret_cast<const wchar_t*>(at + 6);
  const auto* kend = reinterpret_cast<const wchar_t*>(n->end);
  n->key.clear();
  while (k < kend && *k) n->key += *k++;
  if (k >= kend) return false;
  auto align = [base](const BYTE* p) { return base + ((p - base + 3) & ~static_cast<ptrdiff_t>(3)); };
  const BYTE* value = align(reinterpret_cast<const BYTE*>(k + 1));
  const size_t value_bytes = type == 1 ? value_length * sizeof(wchar_t) : value_length;
  n->children = align(value + value_bytes);
  if (n->children > n->end) n->children = n->end;
  return true;
}

// The keys of the first string table under StringFileInfo.
std::vector<std::wstring> string_keys(const BYTE* block, size_t size) {
  std::vector<std::wstring> keys;
  Node root;
  if (!read_node(block, block, block + size, &root)) return keys;
  auto align = [block](const BYTE* p) { return block + ((p - block + 3) & ~static_cast<ptrdiff_t>(3)); };
  for (const BYTE* p = root.children; p < root.end;) {
    Node info;
    if (!read_node(block, p, root.end, &info)) break;
    if (info.key == L"StringFileInfo") {
      Node table;
      if (read_node(block, info.children, info.end, &table)) {
        for (const BYTE* q = table.children; q < table.end;) {
          Node entry;
          if (!read_node(block, q, table.end, &entry)) break;
          keys.push_back(entry.key);
          q = align(entry.end);
        }
      }
      break;
    }
    p = align(info.end);
  }
  return keys;
}

}  // namespace

bool file_version_info(const std::string& file_name, FileVersion& out) {
  const std::wstring path = widen(locate(file_name));
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
  out = FileVersion{};
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed != nullptr &&
      len >= sizeof(VS_FIXEDFILEINFO)) {
    out.number[0] = HIWORD(fixed->dwFileVersionMS);
    out.number[1] = LOWORD(fixed->dwFileVersionMS);
    out.number[2] = HIWORD(fixed->dwFileVersionLS);
    out.number[3] = LOWORD(fixed->dwFileVersionLS);
  }
  WORD* translation = nullptr;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                      &len) ||
      translation == nullptr || len < 4)
    return true;  // version numbers without a string table
  out.language = translation[0];
  out.codepage = translation[1];
  wchar_t prefix[64];
  std::swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", out.language, out.codepage);
  // The values are Unicode in the file: they are turned into GBK here, whatever the system's
  // ANSI code page is (an "A" query would give '?' for Chinese text on a Western system).
  for (const std::wstring& key : string_keys(block.data(), size)) {
    wchar_t* value = nullptr;
    if (VerQueryValueW(block.data(), (prefix + key).c_str(), reinterpret_cast<void**>(&value), &len) &&
        value) {
      size_t n = len;
      while (n > 0 && value[n - 1] == L'\0') --n;
      out.strings[to_gbk(key.data(), key.size())] = to_gbk(value, n);
    }
  }
  return true;
}

bool product_branding(ProductBranding& out) {
  out = ProductBranding{};
  HMODULE module = win32::own_module();
  if (FindResourceA(module, "PRODUCT", MAKEINTRESOURCEA(2) /* RT_BITMAP */) == nullptr) return false;
  out.has_bitmap = true;
  // String resources live sixteen to a block; each entry is a length and that many UTF-16 units.
  auto load_string = [module](UINT id) -> std::string {
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id / 16 + 1), MAKEINTRESOURCEA(6) /* RT_STRING */);
    if (res == nullptr) return {};
    HGLOBAL data = LoadResource(module, res);
    const auto* p = data ? static_cast<const WORD*>(LockResource(data)) : nullptr;
    const DWORD size = SizeofResource(module, res) / sizeof(WORD);
    if (p == nullptr) return {};
    DWORD at = 0;
    for (UINT i = 0; i < id % 16 && at < size; ++i) at += 1 + p[at];
    if (at >= size) return {};
    const DWORD n = std::min<DWORD>(p[at], std::min<DWORD>(254, size - at - 1));
    return to_gbk(reinterpret_cast<const wchar_t*>(p + at + 1), n);
  };
  out.product_text = load_string(50000);
  out.second_text = load_string(40000);
  return true;
}

}  // namespace korvel::plat
