#include "receive/trash_files.hpp"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "base/safe_files.hpp"
#include "base/text.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// "TRASH.007" → 7; 0 for any other name.
long trash_number(const std::string& name) {
  const std::string stem = std::string(kTrashFile) + ".";
  const std::string upper = ucase(name);
  if (upper.size() <= stem.size() || !starts_with(upper, stem)) return 0;
  const std::string digits = upper.substr(stem.size());
  if (digits.size() > 9 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  return std::stol(digits);
}

std::string numbered_name(long n) {
  std::string digits = std::to_string(n);
  while (digits.size() < 3) digits.insert(0, "0");
  return std::string(kTrashFile) + "." + digits;
}

// The kept files, oldest first.
std::vector<std::pair<long, fs::path>> kept_files(const fs::path& dir) {
  std::vector<std::pair<long, fs::path>> kept;
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (const long n = trash_number(it->path().filename().string()); n > 0)
      kept.emplace_back(n, it->path());
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

std::string shown(const Station& s, const std::string& name) {
  return s.paths.display(s.station_file(name));
}

}  // namespace

int put_in_trash(Station& s, const fs::path& data) {
  const fs::path trash = s.paths.existing(s.station_file(kTrashFile));
  const fs::path dir = trash.parent_path();
  auto kept = kept_files(dir);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(trash, ec)) && !is_link(trash)) {
    const long n = kept.empty() ? 1 : kept.back().first + 1;
    const std::string name = numbered_name(n);
    if (move_file(trash, dir / name, ec)) {
      log_text(s, "Earlier TRASH kept as " + shown(s, name));
      kept.emplace_back(n, dir / name);
    }
  }
  while (kept.size() > static_cast<std::size_t>(kTrashKeep)) {
    const fs::path oldest = kept.front().second;
    kept.erase(kept.begin());
    if (fs::remove(oldest, ec))
      log_text(s, "Deleting oldest TRASH file " + shown(s, oldest.filename().string()));
  }
  if (!move_file(data, trash, ec)) return ec.value() ? ec.value() : EIO;
  return 0;
}

}  // namespace shoplink
