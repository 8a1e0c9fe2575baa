#include "receive/contents_index.hpp"

#include <cstdio>
#include <memory>
#include <system_error>

#include "base/file_table.hpp"
#include "base/text.hpp"
#include "core/station.hpp"
#include "requests/command_interpreter.hpp"
#include "requests/request_paths.hpp"

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

// Closes the new index (a full disk shows only then) and puts it in place.
bool finish(FilePtr out, const fs::path& tempfile, const fs::path& contents, bool ok) {
  std::FILE* f = out.release();
  ok = std::fclose(f) == 0 && ok;
  std::error_code ec;
  if (ok) fs::rename(tempfile, contents, ec);
  if (!ok || ec) {
    fs::remove(tempfile, ec);
    return false;
  }
  return true;
}

}  // namespace

std::string contents_entry(std::string_view number, std::string_view name, double size) {
  return "\"" + std::string(number) + "\",\"" + left(name, 32) + "\"," + str(size);
}

bool rewrite_contents(const fs::path& contents, const fs::path& tempfile, std::string_view number,
                      std::string_view name, double size) {
  std::error_code ec;
  FilePtr in = open_file(contents, "rb");
  if (!in && fs::exists(contents, ec)) return false;

  FilePtr out = open_file(tempfile, "wb");
  if (!out) return false;
  // The index is read and written line by line; a large buffer keeps a 10,000-line index
  // to a handful of writes.
  std::setvbuf(out.get(), nullptr, _IOFBF, 1 << 16);

  bool ok = true;
  if (!in) {
    ok = put(out.get(), contents_entry(number, name, size));
    return finish(std::move(out), tempfile, contents, ok);
  }

  bool placed = false;
  std::string line;
  while (ok && FileTable::read_line(in.get(), line)) {
    const std::string n = line_number(line);
    if (n == "EXEC") continue;
    if (!placed) {
      if (n < number) {
        ok = put(out.get(), line);
        continue;
      }
      std::string entry_name(name);
      if (n == number && contains(name, kDncLinkComment)) entry_name = left(line_name(line), 32);
      ok = put(out.get(), contents_entry(number, entry_name, size));
      placed = true;
      if (n == number) continue;
      ok = ok && put(out.get(), line);
      continue;
    }
    if (n == number) continue;
    ok = put(out.get(), line);
  }
  if (std::ferror(in.get())) ok = false;
  if (ok && !placed) ok = put(out.get(), contents_entry(number, name, size));
  in.reset();
  return finish(std::move(out), tempfile, contents, ok);
}

bool append_contents(const fs::path& contents, std::string_view number, std::string_view name,
                     double size) {
  FilePtr f = open_file(contents, "ab");
  if (!f) return false;
  const bool ok = put(f.get(), contents_entry(number, name, size));
  return std::fclose(f.release()) == 0 && ok;
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

void update_contents_file(Station& s) {
  const bool numbered = s.filetype == 3 || s.config.default_file_type == DefaultFileType::ASCII;
  if (!numbered || s.pcnc_file_no.empty()) return;
  const std::string text = s.HSTR + "\\" + kContentsFile;
  // The directory came from a machine's command: never write an index outside the station's
  // and the port's directories.
  CommandParse dirs;
  dirs.send_last = split_directories(s.cur().send_dir, dirs.send_dirs);
  dirs.receive_last = split_directories(s.cur().receive_dir, dirs.receive_dirs);
  if (!request_path_allowed(s, dirs, text)) return;
  const fs::path contents = s.paths.existing(text);
  const std::string& code = s.cur().code_line;
  const bool ok = contains(code, "/32") && !contains(code, "/O")
                      ? append_contents(contents, s.pcnc_file_no, s.pcnc_file_name, s.char_count)
                      : rewrite_contents(contents, contents.parent_path() / kContentsTempFile,
                                         s.pcnc_file_no, s.pcnc_file_name, s.char_count);
  // The program is stored; only its index entry is missing, which the operator must know.
  if (!ok) s.window.set_status(" " + contents.string() + " could not be updated ");
}

}  // namespace shoplink
