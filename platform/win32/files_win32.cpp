#include <windows.h>

#include <algorithm>

#include "platform/files.h"

namespace korvel::plat {
namespace {

DWORD attributes(const std::string& path) {
  return GetFileAttributesA(native_path(path).c_str());
}

// Opens for writing; other writers (a second host thread's log, the debug window) may share it.
HANDLE open_for_write(const std::string& path, DWORD disposition) {
  return CreateFileA(native_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool write_all(HANDLE h, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD put = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(h, bytes.data() + done, chunk, &put, nullptr) || put == 0) return false;
    done += put;
  }
  return true;
}

}  // namespace

char path_separator() {
  return '\\';
}

std::string native_path(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

bool file_exists(const std::string& path) {
  const DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool open_to_others(const std::string&) {
  return false;
}

bool path_exists(const std::string& path) {
  return attributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool directory_exists(const std::string& path) {
  const DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool create_directories(const std::string& path) {
  std::string p = native_path(path);
  while (p.size() > 1 && p.back() == '\\') p.pop_back();
  if (p.empty()) return false;
  if (directory_exists(p)) return true;
  // Each level in turn; a drive ("C:") or a server share ("\\server\share") is never created.
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '\\') {
      const std::string part = p.substr(0, i);
      if (part.size() <= 2 || part.back() == ':' || directory_exists(part)) continue;
      if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        if (i == p.size()) return false;
      }
    }
  }
  return directory_exists(p);
}

int64_t file_size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(native_path(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool delete_file(const std::string& path) {
  return DeleteFileA(native_path(path).c_str()) != 0;
}

bool create_empty_file(const std::string& path) {
  HANDLE h = open_for_write(path, CREATE_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool create_new_file(const std::string& path) {
  HANDLE h = open_for_write(path, CREATE_NEW);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

std::vector<std::string> list_files(const std::string& directory) {
  std::vector<std::string> names;
  std::string pattern = directory.empty() ? std::string(".") : native_path(directory);
  if (pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found{};
  HANDLE h = FindFirstFileA(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return names;
}

bool append_shared(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(native_path(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // Append-only access puts every write at the current end, also with other writers; one call
  // keeps the text whole.
  DWORD put = 0;
  const bool ok = bytes.size() <= 0x7FFFFFFFu &&
                  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                  put == bytes.size();
  CloseHandle(h);
  return ok;
}

bool write_file(const std::string& path, const std::string& bytes) {
  HANDLE h = open_for_write(path, CREATE_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = write_all(h, bytes);
  CloseHandle(h);
  return ok;
}

bool read_file(const std::string& path, std::string& out, size_t max_bytes) {
  out.clear();
  HANDLE h = CreateFileA(native_path(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char buf[65536];
  bool ok = true;
  while (out.size() < max_bytes) {
    DWORD got = 0;
    if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    out.append(buf, got);
  }
  if (out.size() > max_bytes) out.resize(max_bytes);
  CloseHandle(h);
  return ok;
}

std::string current_directory() {
  char buf[MAX_PATH * 2];
  const DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
  if (n == 0 || n >= sizeof buf) return ".";
  return std::string(buf, n);
}

}  // namespace korvel::plat
