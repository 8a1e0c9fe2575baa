#include "receive/vision_conversion.hpp"

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string_view>
#include <utility>

#include "base/safe_files.hpp"
#include "base/text.hpp"
#include "core/station.hpp"

namespace shoplink {

namespace {

// The J word of the cycle call, by the first variant code found in this order.
constexpr std::array<std::string_view, 4> kVariants{"M80", "M81", "M82", "M83"};
constexpr std::array<std::string_view, 4> kJWords{"J0", "J1", "J2", "J3"};
constexpr int kTools = 5;

// What the codes cut from one line asked for.
struct LineCodes {
  bool found = false;
  int variant = -1;  // index into kVariants of the first one set, -1 when none
  std::array<bool, kTools> tools{};
};

// Cuts the first occurrence of `code` out of `line`; true when there was one.
bool cut(std::string& line, std::string_view code) {
  const auto at = line.find(code);
  if (at == std::string::npos) return false;
  line.erase(at, code.size());
  return true;
}

// The tool codes in their search order: M32 switches every tool on, M33 every tool off,
// M34 to M38 one tool each.
void cut_tool_codes(std::string& line, LineCodes& codes) {
  if (cut(line, "M32")) {
    codes.found = true;
    codes.tools.fill(true);
  }
  if (cut(line, "M33")) {
    codes.found = true;
    codes.tools.fill(false);
  }
  for (int t = 0; t < kTools; ++t) {
    if (cut(line, "M3" + std::to_string(4 + t))) {
      codes.found = true;
      codes.tools[static_cast<std::size_t>(t)] = true;
    }
  }
}

std::string without_quotes(const std::string& line) {
  if (!starts_with(line, "\"")) return line;
  return line.size() >= 2 ? line.substr(1, line.size() - 2) : std::string();
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::string vision_line(std::string line) {
  if (line.find('M') == std::string::npos) return line;
  LineCodes codes;
  for (std::size_t v = 0; v < kVariants.size(); ++v) {
    if (cut(line, kVariants[v])) {
      codes.found = true;
      if (codes.variant < 0) codes.variant = static_cast<int>(v);
    }
  }
  cut_tool_codes(line, codes);
  if (!codes.found || codes.variant < 0) return line;  // unchanged, or tool codes cut out
  std::string call = "G83I";
  for (int t = 0; t < kTools; ++t)
    if (codes.tools[static_cast<std::size_t>(t)]) call += std::to_string(t + 1);
  call += kJWords[static_cast<std::size_t>(codes.variant)];
  return call + line;
}

std::string Autopath_Vision(Station& s, const std::string& path) {
  s.window.set_status("Converting file");
  const std::unique_ptr<std::FILE, FileCloser> in(std::fopen(s.paths.existing(path).c_str(), "rb"));
  if (!in) return kConversionError;
  int error = 0;
  std::unique_ptr<std::FILE, FileCloser> out(
      open_for_write(s.paths.existing(s.station_file(kVisionScratch)), WriteMode::Truncate, error));
  if (!out) return kConversionError;

  const bool quoted_form = s.filetype == 3;
  std::string line;
  bool first = true;
  bool ok = true;
  while (FileTable::read_line(in.get(), line)) {
    if (quoted_form && std::exchange(first, false)) continue;  // the numbered form's header
    const std::string converted = vision_line(quoted_form ? without_quotes(line) : line) + "\r\n";
    ok = ok && std::fwrite(converted.data(), 1, converted.size(), out.get()) == converted.size();
  }
  const bool read_failed = std::ferror(in.get()) != 0;
  ok = std::fclose(out.release()) == 0 && ok;
  return read_failed || !ok ? kConversionError : kConversionOk;
}

}  // namespace shoplink
