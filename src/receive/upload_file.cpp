#include "receive/upload_file.hpp"

#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "core/station.hpp"
#include "log/system_log.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// An upload still written under its temporary name, by station.
struct PendingUpload {
  // Identify the open upload, so that an entry left by a transfer closed elsewhere never
  // matches a later one.
  std::FILE* file = nullptr;
  std::string filename;
  fs::path temp, target;
};

std::map<const Station*, PendingUpload>& pending() {
  static std::map<const Station*, PendingUpload> uploads;
  return uploads;
}

// The entry for the upload open under `Openfile`, or nullptr.
PendingUpload* pending_for(Station& s) {
  auto it = pending().find(&s);
  if (it == pending().end()) return nullptr;
  if (it->second.file == nullptr || it->second.file != s.files.get(s.Openfile) ||
      it->second.filename != s.Filename) {
    pending().erase(it);
    return nullptr;
  }
  return &it->second;
}

constexpr const char* kTrashFile = "TRASH";

}  // namespace

bool create_upload_file(Station& s, const std::string& text, bool keep_old_until_data,
                        bool confine) {
  pending().erase(&s);
  if (s.Openfile == 0) s.Openfile = s.files.freefile();
  if (confine && !s.paths.confined(text)) {
    s.error_number = kConfinedError;
    return false;
  }
  const fs::path target = s.paths.existing(text);
  std::error_code ec;
  const bool keep = keep_old_until_data && fs::is_regular_file(target, ec);
  const fs::path path =
      keep ? target.parent_path() / ("~" + target.filename().string() + ".upload") : target;
  if (!s.files.open(s.Openfile, path, FileMode::Write)) {
    s.error_number = static_cast<std::int16_t>(s.files.last_error());
    return false;
  }
  if (keep) pending()[&s] = PendingUpload{s.files.get(s.Openfile), text, path, target};
  return true;
}

void store_in_trash(Station& s) {
  log_event(s, 25);
  s.Filename = s.station_file(kTrashFile);
  log_event(s, 26);
  create_upload_file(s, s.Filename, false, false);
}

void write_upload_line(Station& s, std::string_view line) {
  std::FILE* f = s.files.get(s.Openfile);
  if (!f) return;
  std::string text;
  text.reserve(line.size() + 4);
  if (s.filetype == 3) text += '"';
  text += line;
  if (s.filetype == 3) text += '"';
  text += "\r\n";
  std::fwrite(text.data(), 1, text.size(), f);
}

void write_upload_bytes(Station& s, std::string_view bytes) {
  std::FILE* f = s.files.get(s.Openfile);
  if (f && !bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
}

void upload_data_arrived(Station& s) {
  PendingUpload* p = pending_for(s);
  if (!p) return;
  std::error_code ec;
  // The open file follows the rename; a failed rename leaves the upload under its
  // temporary name rather than losing it.
  fs::rename(p->temp, p->target, ec);
  pending().erase(&s);
}

bool close_upload_file(Station& s) {
  PendingUpload* p = pending_for(s);
  const bool discard = p != nullptr;
  const fs::path temp = discard ? p->temp : fs::path();
  s.files.close(s.Openfile);
  pending().erase(&s);
  if (discard) {
    std::error_code ec;
    fs::remove(temp, ec);
  }
  return discard;
}

}  // namespace shoplink
