#include "config/dncdata.hpp"

#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include "base/text.hpp"
#include "core/code_types.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "ui/main_window.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

constexpr const char* kErrorTitle = "SHOPLINK error message";
constexpr const char* kDefaultCommandChars = "TRPSFD:\\N";
// Settings that would switch a safety off take these instead: a response time-out of 0
// never fires (a request without Xon would wait for ever), a reception time-out beyond
// the timers' range wraps, and a log without a positive limit is rewritten on every entry.
// Reception time-outs not above 0 are replaced where they are used.
constexpr int kDefaultResponseTimeoutMs = 20 * 1000;
constexpr double kDefaultReceiveTimeoutMs = 5000;
constexpr double kMaxReceiveTimeoutMs = 24.0 * 3600 * 1000;  // a day
constexpr std::int32_t kDefaultLogLimit = 50000;

void fail(Station& s, const std::string& text) {
  s.dialogs.message_box(kErrorTitle, text, Icon::Exclamation);
  s.window.close_secondary_windows();
  s.end_program(2);
}

void fail_not_found(Station& s) {
  fail(s, "SHOPLINK\nDNCDATA file\nnot found\n");
}

// Lines with comments and trailing blanks removed; nothing when the file cannot be read or
// is longer than the station reads.
std::optional<std::vector<std::string>> read_lines(const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  std::vector<std::string> lines;
  std::string line;
  bool ok = true;
  while (FileTable::read_line(f, line)) {
    if (lines.size() == kMaxDncdataLines) {
      ok = false;
      break;
    }
    if (auto q = line.find('\''); q != std::string::npos) line.erase(q);
    lines.push_back(trim_trailing_blanks(line));
  }
  if (std::ferror(f)) ok = false;
  std::fclose(f);
  if (!ok) return std::nullopt;
  return lines;
}

std::int32_t to_int32(double v) {
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  if (v < lo) return std::numeric_limits<std::int32_t>::min();
  if (v > hi) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(round_int(v));
}

bool copy_file_to(const Station& s, const fs::path& from, const std::string& to_text) {
  const fs::path to = s.paths.existing(to_text);
  std::error_code ec;
  // The queue directory may be the station directory itself: the file is already there.
  if (fs::equivalent(from, to, ec)) return true;
  ec.clear();
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  return !ec;
}

// Returns true when the line names a queue directory of its own.
bool read_host_line(Station& s, const std::string& line) {
  auto& c = s.config;
  const auto comma = instr(line, ",");
  if (comma == 0) {
    c.host_port = line;
    c.queue_dir = s.station_dir();
    return false;
  }
  c.host_port = left(line, comma - 1);
  // "COM1:9600," names no queue directory (it would be the host's root).
  if (mid(line, comma + 1).find_first_not_of(" \t") == std::string::npos) {
    c.queue_dir = s.station_dir();
    return false;
  }
  c.queue_dir = mid(line, comma + 1);
  return true;
}

// Start-up's part of line 1: the copy for the other programs, and no stale queue commands.
void prepare_queue_dir(Station& s, const fs::path& file, bool named, std::size_t line_count) {
  auto& c = s.config;
  // One retry at the station directory, then the copy is given up silently.
  if (named && !copy_file_to(s, file, c.queue_dir + "\\" + c.dncdata_name)) {
    c.queue_dir = s.station_dir();
    copy_file_to(s, file, c.queue_dir + "\\" + c.dncdata_name);
  }
  // Queue command files left over from the last run would be served as fresh requests.
  const auto blocks = round_int((static_cast<double>(line_count) - 2) / 5);
  for (std::int64_t i = 1; i <= blocks; ++i) {
    std::error_code ec;
    fs::remove(s.paths.existing(c.queue_dir + "\\" + kQueueCommandFile + str(i)), ec);
  }
}

void read_defaults_line(Station& s, const std::string& line) {
  auto& c = s.config;
  const std::string u = ucase(line);
  if (contains(u, "WINDOWS")) c.default_file_type = DefaultFileType::WINDOWS;
  if (contains(u, "PCNC")) c.default_file_type = DefaultFileType::PCNC;
  if (contains(u, "DOS")) c.default_file_type = DefaultFileType::None;
  if (contains(u, "ASCII")) c.default_file_type = DefaultFileType::ASCII;
  c.response_timeout_ms = kDefaultResponseTimeoutMs;
  if (auto eq = instr(line, "="); eq > 0) {
    const std::int32_t ms =
        to_int32(static_cast<double>(round_int(val(mid(line, eq + 1, 3)))) * 1000);
    if (ms > 0) c.response_timeout_ms = ms;
  }
}

void read_log_line(Station& s, const std::string& line) {
  auto& c = s.config;
  if (auto comma = instr(line, ","); comma > 0) {
    c.log_path = s.station_file(left(line, comma - 1));
    c.log_limit = to_int32(val(mid(line, comma + 1)));
    if (c.log_limit <= 0) c.log_limit = kDefaultLogLimit;
  } else {
    c.log_path = s.station_file(line);
    c.log_limit = kDefaultLogLimit;
  }
}

// The text after `key`, at most `n` characters, cut before the first comma.
std::string option_text(const std::string& area, std::string_view key, std::size_t n) {
  const auto at = instr(area, key);
  if (at == 0) return {};
  std::string t = mid(area, at + key.size(), n);
  if (auto comma = t.find(','); comma != std::string::npos) t.erase(comma);
  return t;
}

// False when a command character would lie before the start of the option area.
bool read_options(PortSettings& p, const std::string& area) {
  p.command_chars = kDefaultCommandChars;
  p.ignore.clear();
  p.extension.clear();
  p.subdir.clear();
  p.eob.clear();
  p.mask.clear();
  for (std::size_t i = 0; i < p.command_chars.size(); ++i) {
    const std::string key = std::string("=") + kDefaultCommandChars[i];
    const auto eq = instr(area, key);
    if (eq == 0) continue;
    if (eq == 1) return false;
    std::size_t at = eq - 1;
    if (area[at - 1] == ' ') {
      if (at == 1) return false;
      --at;
    }
    p.command_chars[i] = area[at - 1];
  }
  p.ignore = option_text(area, "IGNORE=", 32);
  if (auto dot = instr(area, "+."); dot > 0) {
    std::string ext = mid(area, dot + 1, 4);
    if (auto comma = ext.find(','); comma != std::string::npos) ext.erase(comma);
    if (auto sp = ext.find(' '); sp != std::string::npos) ext.erase(sp);
    p.extension = ext;
  }
  p.subdir = option_text(area, "DIR=", 8);
  if (auto at = instr(area, "EOB="); at > 0) p.eob = char_list(mid(area, at + 4, 32));
  if (auto at = instr(area, "MASK="); at > 0) p.mask = char_list(mid(area, at + 5, 32));
  return true;
}

std::string port_dir(const Station& s, const std::string& line) {
  return line.empty() ? s.station_dir() : normalise_dir(line);
}

// False when the block's option area is broken.
bool read_port_block(Station& s, int k, const std::vector<std::string>& lines) {
  // Block k is lines 5k-1 .. 5k+3; lines past the end of the file read as empty.
  auto block_line = [&](int i) -> std::string {
    const std::size_t n = static_cast<std::size_t>(5 * k - 1 + i);  // 1-based
    return n <= lines.size() ? lines[n - 1] : std::string();
  };
  PortSettings& p = s.ports[static_cast<std::size_t>(k)];
  p.line_settings = block_line(0);
  p.code_line = block_line(1);
  p.code_type = code_type_of(p.code_line);
  // A DELAY= that is not above 0 is kept as read: the receive time-out falls back to the
  // default where it is used.
  p.delay_ms = kDefaultReceiveTimeoutMs;
  if (auto d = instr(p.code_line, "DELAY="); d > 0)
    p.delay_ms = std::min(val(mid(p.code_line, d + 6)) * 1000, kMaxReceiveTimeoutMs);
  p.receive_dir = port_dir(s, block_line(2));
  p.send_dir = port_dir(s, block_line(3));

  const std::string fifth = block_line(4);
  p.paren_flag = contains(fifth, "()");
  std::string area;
  if (auto comma = instr(fifth, ","); comma > 0) {
    p.name_chars = left(fifth, comma - 1);
    area = mid(fifth, comma + 1);
  } else {
    p.name_chars = fifth;
  }
  return read_options(p, area);
}

// A code type outside the tables would make every character of that port unreadable.
int first_bad_code_type(const Station& s) {
  for (int k = 1; k <= NumPorts; ++k) {
    const PortSettings& p = s.ports[static_cast<std::size_t>(k)];
    if (p.code_type < 0 || p.code_type >= kCodeTypes) return k;
  }
  return 0;
}

}  // namespace

std::string char_list(std::string_view text) {
  text = text.substr(0, 32);
  std::string list;
  int pending = 0;
  bool have_digits = false;
  for (char ch : text) {
    if (ch >= '0' && ch <= '9') {
      pending = (pending * 10 + (ch - '0')) & 0xFF;  // the list keeps only the low byte
      have_digits = true;
    } else if (ch == ',') {
      list.push_back(static_cast<char>(pending));
      pending = 0;
      have_digits = false;
    } else {
      return list;
    }
  }
  if (have_digits) list.push_back(static_cast<char>(pending));
  return list;
}

std::string normalise_dir(std::string dir) {
  if (dir.size() == 1 && dir != ":") dir += ':';
  if (!dir.empty() && dir.back() == ':') dir += '\\';
  return dir;
}

DncdataReading parse_dncdata(Station& s) {
  auto& c = s.config;
  DncdataReading r;
  const std::string extension = std::to_string(NumPorts);
  const std::string numbered = "DNCDATA." + extension;
  std::error_code ec;
  r.file = s.paths.existing(s.station_file(numbered));
  if (fs::is_regular_file(r.file, ec)) {
    c.dncdata_name = numbered;
  } else {
    c.dncdata_name = "DNCDATA";
    r.file = s.paths.existing(s.station_file(c.dncdata_name));
  }
  c.dncdata_path = s.station_file(c.dncdata_name);

  if (!fs::exists(r.file, ec)) {
    r.status = DncdataStatus::Missing;
    return r;
  }
  const auto lines = read_lines(r.file);
  if (!lines) {
    r.status = DncdataStatus::Unreadable;
    return r;
  }
  r.line_count = lines->size();
  auto line = [&](std::size_t n) { return n <= lines->size() ? (*lines)[n - 1] : std::string(); };

  r.queue_dir_named = read_host_line(s, line(1));
  read_defaults_line(s, line(2));
  read_log_line(s, line(3));

  for (int k = 1; k <= NumPorts; ++k) {
    if (!read_port_block(s, k, *lines)) {
      r.status = DncdataStatus::BrokenOptions;
      r.port = k;
      return r;
    }
  }
  for (int k = 1; k <= NumPorts; ++k) {
    auto& ls = s.ports[static_cast<std::size_t>(k)].line_settings;
    if (ls.empty()) ls = "4800";
  }
  if (int k = first_bad_code_type(s)) {
    r.status = DncdataStatus::BadCodeType;
    r.port = k;
  }
  return r;
}

bool read_dncdata(Station& s) {
  const DncdataReading r = parse_dncdata(s);
  if (r.status == DncdataStatus::Missing || r.status == DncdataStatus::Unreadable) {
    fail_not_found(s);
    return false;
  }
  prepare_queue_dir(s, r.file, r.queue_dir_named, r.line_count);
  if (r.status == DncdataStatus::BrokenOptions) {
    fail_not_found(s);
    return false;
  }
  if (r.status == DncdataStatus::BadCodeType) {
    const int type = s.ports[static_cast<std::size_t>(r.port)].code_type;
    fail(s, "SHOPLINK\nDNCDATA file\nPort" + str(r.port) + ": code type " + std::to_string(type) +
                " is not one of 0 to 5\n");
    return false;
  }
  log_event(s, 15);
  log_event(s, 33);
  return true;
}

}  // namespace shoplink
