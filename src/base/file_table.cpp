#include "base/file_table.hpp"

#include <cerrno>

#include "base/safe_files.hpp"

namespace shoplink {

std::int16_t FileTable::freefile() const {
  std::int16_t n = 1;
  while (files_.count(n)) ++n;
  return n;
}

bool FileTable::open(std::int16_t n, const std::filesystem::path& path, FileMode mode) {
  close(n);
  errno = 0;
  int error = 0;
  std::FILE* f = nullptr;
  switch (mode) {
    case FileMode::Read:
      f = std::fopen(path.c_str(), "rb");
      error = errno;
      break;
    case FileMode::Write:
      f = open_for_write(path, WriteMode::Truncate, error);
      break;
    case FileMode::Append:
      f = open_for_write(path, WriteMode::Append, error);
      break;
    case FileMode::Temporary:
      f = create_temporary(path, error);
      break;
  }
  if (!f) {
    last_error_ = error ? error : EIO;
    return false;
  }
  last_error_ = 0;
  files_[n] = f;
  return true;
}

std::FILE* FileTable::get(std::int16_t n) const {
  auto it = files_.find(n);
  return it == files_.end() ? nullptr : it->second;
}

bool FileTable::close(std::int16_t n) {
  auto it = files_.find(n);
  if (it == files_.end()) return true;
  errno = 0;
  const bool ok = std::fclose(it->second) == 0;
  if (!ok) last_error_ = errno ? errno : EIO;
  files_.erase(it);
  return ok;
}

void FileTable::close_all() {
  for (auto& [n, f] : files_) std::fclose(f);
  files_.clear();
}

bool FileTable::read_line(std::FILE* f, std::string& line) {
  line.clear();
  int c = std::getc(f);
  if (c == EOF) return false;
  while (c != EOF) {
    if (c == '\n') break;
    if (c == '\r') {
      int d = std::getc(f);
      if (d != '\n' && d != EOF) std::ungetc(d, f);
      break;
    }
    line.push_back(static_cast<char>(c));
    c = std::getc(f);
  }
  return true;
}

}  // namespace shoplink
