#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/posix/quiet_signals.h"

namespace korvel::plat {

char path_separator() {
  return '/';
}

std::string native_path(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(native_path(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool open_to_others(const std::string& path) {
  struct stat st {};
  return ::stat(native_path(path).c_str(), &st) == 0 && (st.st_mode & (S_IROTH | S_IWOTH)) != 0;
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return ::stat(native_path(path).c_str(), &st) == 0;
}

bool directory_exists(const std::string& path) {
  struct stat st {};
  return ::stat(native_path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool create_directories(const std::string& path) {
  std::string p = native_path(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty()) return false;
  if (directory_exists(p)) return true;
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '/') {
      const std::string part = p.substr(0, i);
      if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  return directory_exists(p);
}

int64_t file_size(const std::string& path) {
  struct stat st {};
  if (::stat(native_path(path).c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool delete_file(const std::string& path) {
  return ::unlink(native_path(path).c_str()) == 0;
}

bool create_empty_file(const std::string& path) {
  int fd = ::open(native_path(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool create_new_file(const std::string& path) {
  int fd = ::open(native_path(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::vector<std::string> list_files(const std::string& directory) {
  std::vector<std::string> names;
  const std::string dir = directory.empty() ? std::string(".") : native_path(directory);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    struct stat st {};
    if (::fstatat(::dirfd(d), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) names.emplace_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

// Writes everything or fails; a file-size limit or a vanished reader is an error, never a signal.
static bool write_all(int fd, const std::string& bytes) {
  QuietSignals quiet;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool append_shared(const std::string& path, const std::string& bytes) {
  // O_APPEND makes each write land at the current end even with other writers.
  int fd = ::open(native_path(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  // Text that would cross the process's file-size limit is dropped whole rather than cut off.
  rlimit limit{};
  struct stat st {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && ::fstat(fd, &st) == 0 &&
      S_ISREG(st.st_mode) && static_cast<rlim_t>(st.st_size) + bytes.size() > limit.rlim_cur) {
    ::close(fd);
    return false;
  }
  const bool ok = write_all(fd, bytes);
  ::close(fd);
  return ok;
}

bool write_file(const std::string& path, const std::string& bytes) {
  int fd = ::open(native_path(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool ok = write_all(fd, bytes);
  ::close(fd);
  return ok;
}

bool read_file(const std::string& path, std::string& out, size_t max_bytes) {
  out.clear();
  int fd = ::open(native_path(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[65536];
  bool ok = true;
  while (out.size() < max_bytes) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  if (out.size() > max_bytes) out.resize(max_bytes);
  ::close(fd);
  return ok;
}

std::string current_directory() {
  char buf[PATH_MAX];
  if (::getcwd(buf, sizeof buf) == nullptr) return ".";
  return buf;
}

}  // namespace korvel::plat
