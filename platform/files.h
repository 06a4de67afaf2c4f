// File services used by the log and the windows. Paths may use '\' or '/' as separators.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace korvel::plat {

// The separator of this platform ('/' on POSIX, '\' on Windows).
char path_separator();
// Path with every '\' or '/' turned into this platform's separator.
std::string native_path(const std::string& path);

bool file_exists(const std::string& path);
// True when users other than the file's owner and group may read or write it (POSIX mode bits);
// false on Windows, whose access lists this does not judge.
bool open_to_others(const std::string& path);
// True when anything (file, directory, device, socket) is there.
bool path_exists(const std::string& path);
bool directory_exists(const std::string& path);
// Creates the directory with every missing parent; true when it exists afterwards.
bool create_directories(const std::string& path);
// Size in bytes, or -1 when the file cannot be examined.
int64_t file_size(const std::string& path);
bool delete_file(const std::string& path);
// Creates (or truncates) an empty file.
bool create_empty_file(const std::string& path);
// Creates an empty file only when no file of that name exists; false otherwise (or on failure).
bool create_new_file(const std::string& path);
// Names (without directory) of the plain files in a directory; empty when it cannot be read.
std::vector<std::string> list_files(const std::string& directory);
// Appends bytes at the end, opening the file shared with other writers and closing it again;
// creates the file when missing. One call is one write: texts of other writers never land inside
// it. False when the bytes cannot all be written (no room, a file-size limit); no signal is raised.
bool append_shared(const std::string& path, const std::string& bytes);
// Reads at most max_bytes of the file; false when it cannot be read.
bool read_file(const std::string& path, std::string& out, size_t max_bytes = 64u << 20);
bool write_file(const std::string& path, const std::string& bytes);
std::string current_directory();

}  // namespace korvel::plat
