#include "receive/contents_index.hpp"

#include <cstdio>
#include <memory>
#include <system_error>

#include "base/file_table.hpp"
#include "base/safe_files.hpp"
#include "base/text.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

constexpr const char* kCrLf = "\r\n";

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr open_file(const fs::path& p, const char* mode) {
  return FilePtr(std::fopen(p.c_str(), mode));
}

bool put(std::FILE* f, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), f) == text.size() &&
         std::fwrite(kCrLf, 1, 2, f) == 2;
}

// Characters 2 to 5: the number between the first pair of quotes.
std::string line_number(std::string_view line) {
  return mid(line, 2, 4);
}

// From character 9 up to the next double quote.
std::string line_name(std::string_view line) {
  std::string name = mid(line, 9);
  if (auto q = name.find('"'); q != std::string::npos) name.erase(q);
  return name;
}

// Closes the new index (a full disk shows only then and at the flush to disk); a failed one
// is removed.
bool finish(FilePtr out, const fs::path& tempfile, bool ok) {
  std::FILE* f = out.release();
  int error = 0;
  ok = ok && flush_to_disk(f, error);
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::error_code ec;
    fs::remove(tempfile, ec);
  }
  return ok;
}

// The old index line by line, with the entry for `number` placed in order.
bool merge_entry(std::FILE* in, std::FILE* out, std::string_view number, std::string_view name,
                 double size) {
  bool ok = true;
  bool placed = false;
  std::string line;
  while (ok && FileTable::read_line(in, line)) {
    const std::string n = line_number(line);
    if (n == "EXEC") continue;
    if (!placed) {
      if (n < number) {
        ok = put(out, line);
        continue;
      }
      std::string entry_name(name);
      if (n == number && contains(name, kDncLinkComment)) entry_name = left(line_name(line), 32);
      ok = put(out, contents_entry(number, entry_name, size));
      placed = true;
      if (n == number) continue;
      ok = ok && put(out, line);
      continue;
    }
    if (n == number) continue;
    ok = put(out, line);
  }
  if (std::ferror(in)) ok = false;
  if (ok && !placed) ok = put(out, contents_entry(number, name, size));
  return ok;
}

// The old index as it stands, and the entry at its end.
bool append_entry(std::FILE* in, std::FILE* out, std::string_view number, std::string_view name,
                  double size) {
  char buf[1 << 15];
  std::size_t n = 0;
  bool ok = true;
  while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0) ok = std::fwrite(buf, 1, n, out) == n;
  if (std::ferror(in)) ok = false;
  return ok && put(out, contents_entry(number, name, size));
}

}  // namespace

std::string contents_entry(std::string_view number, std::string_view name, double size) {
  return "\"" + std::string(number) + "\",\"" + left(name, 32) + "\"," + str(size);
}

bool write_new_contents(const fs::path& contents, const fs::path& tempfile, std::string_view number,
                        std::string_view name, double size, bool append) {
  std::error_code ec;
  FilePtr in = open_file(contents, "rb");
  if (!in && fs::exists(contents, ec)) return false;

  int error = 0;
  FilePtr out(create_temporary(tempfile, error));
  if (!out) return false;
  // The index is read and written line by line; a large buffer keeps a 10,000-line index
  // to a handful of writes.
  std::setvbuf(out.get(), nullptr, _IOFBF, 1 << 16);
  bool ok = true;
  if (!in) {
    ok = put(out.get(), contents_entry(number, name, size));
  } else if (append) {
    ok = append_entry(in.get(), out.get(), number, name, size);
  } else {
    ok = merge_entry(in.get(), out.get(), number, name, size);
  }
  return finish(std::move(out), tempfile, ok);
}

bool install_contents(const fs::path& tempfile, const fs::path& contents) {
  std::error_code ec;
  fs::rename(tempfile, contents, ec);
  if (!ec) return true;
  fs::remove(tempfile, ec);
  return false;
}

bool rewrite_contents(const fs::path& contents, const fs::path& tempfile, std::string_view number,
                      std::string_view name, double size) {
  return write_new_contents(contents, tempfile, number, name, size, false) &&
         install_contents(tempfile, contents);
}

bool append_contents(const fs::path& contents, std::string_view number, std::string_view name,
                     double size) {
  const fs::path tempfile = contents.parent_path() / kContentsTempFile;
  return write_new_contents(contents, tempfile, number, name, size, true) &&
         install_contents(tempfile, contents);
}

std::string contents_number_of(const fs::path& contents, std::string_view name) {
  FilePtr in = open_file(contents, "rb");
  if (!in) return {};
  std::string line;
  while (FileTable::read_line(in.get(), line)) {
    if (line_name(line) == name) return line_number(line);
  }
  return {};
}

}  // namespace shoplink
