#include "receive/upload_file.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/station.hpp"
#include "log/system_log.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// The pending upload for the file open under `Openfile`, or nullptr; an entry left by a
// transfer closed elsewhere never matches a later one.
PendingUpload* pending_for(Station& s) {
  auto& p = s.pending_upload;
  if (!p) return nullptr;
  if (p->file == nullptr || p->file != s.files.get(s.Openfile) || p->filename != s.Filename) {
    p.reset();
    return nullptr;
  }
  return &*p;
}

constexpr const char* kTrashFile = "TRASH";

}  // namespace

bool create_upload_file(Station& s, const std::string& text, bool keep_old_until_data,
                        bool confine) {
  s.pending_upload.reset();
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
  if (keep) s.pending_upload = PendingUpload{s.files.get(s.Openfile), text, path, target};
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
  s.pending_upload.reset();
}

bool close_upload_file(Station& s) {
  PendingUpload* p = pending_for(s);
  const bool discard = p != nullptr;
  const fs::path temp = discard ? p->temp : fs::path();
  s.files.close(s.Openfile);
  s.pending_upload.reset();
  if (discard) {
    std::error_code ec;
    fs::remove(temp, ec);
  }
  return discard;
}

}  // namespace shoplink
