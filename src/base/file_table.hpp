#pragma once
// Open files by number, as the station's state refers to them (`Openfile`): a transfer
// file stays open across timer ticks and is closed by whichever handler ends the transfer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace shoplink {

// Write and Append never follow a link at the file's own name; Temporary makes a new file
// in place of whatever stood at the name (see safe_files.hpp).
enum class FileMode { Read, Write, Append, Temporary };

class FileTable {
 public:
  FileTable() = default;
  FileTable(const FileTable&) = delete;
  FileTable& operator=(const FileTable&) = delete;
  ~FileTable() { close_all(); }

  // The next free file number.
  std::int16_t freefile() const;
  // Opens `path` under number `n`; false on failure, with the error number kept.
  bool open(std::int16_t n, const std::filesystem::path& path, FileMode mode);
  std::FILE* get(std::int16_t n) const;
  bool is_open(std::int16_t n) const { return get(n) != nullptr; }
  // False when closing failed (a write that failed only when the buffer was flushed).
  bool close(std::int16_t n);
  void close_all();
  int last_error() const { return last_error_; }

  // Reads one line up to CR LF, LF or CR (the line end is not kept); false at the end.
  static bool read_line(std::FILE* f, std::string& line);

 private:
  std::map<std::int16_t, std::FILE*> files_;
  int last_error_ = 0;
};

}  // namespace shoplink
