#include "receive/upload_file.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "base/text.hpp"
#include "config/dncdata.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "receive/contents_index.hpp"
#include "requests/command_interpreter.hpp"
#include "requests/directory_request.hpp"
#include "requests/file_request.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// The pending upload for the file open under `Openfile`, or nullptr; an entry left by a
// transfer closed elsewhere never matches a later one.
PendingUpload* pending_for(Station& s) {
  auto& p = s.pending_upload;
  if (!p) return nullptr;
  if (p->file == nullptr || p->file != s.files.get(s.Openfile)) {
    p.reset();
    return nullptr;
  }
  return &*p;
}

constexpr const char* kTrashFile = "TRASH";
constexpr const char* kTempPrefix = "~";
constexpr const char* kTempSuffix = ".UPLOAD";

fs::path temporary_for(const fs::path& target) {
  return target.parent_path() / (kTempPrefix + target.filename().string() + ".upload");
}

// Keeps the first failure; later writes are skipped, the upload is lost anyway.
void write_checked(Station& s, std::string_view bytes) {
  std::FILE* f = s.files.get(s.Openfile);
  if (!f || bytes.empty()) return;
  PendingUpload* p = pending_for(s);
  if (p && p->write_error != 0) return;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() && p)
    p->write_error = errno ? errno : EIO;
}

// The directory a path resolves to, links and drive mappings followed, for comparison.
fs::path resolved_dir(const fs::path& dir) {
  std::error_code ec;
  fs::path r = fs::weakly_canonical(dir, ec);
  return ec ? dir.lexically_normal() : r;
}

// Names the station keeps in its own directory.
bool station_dir_name(const Station& s, const std::string& upper) {
  static const std::array<const char*, 12> kNames = {
      "DNCDATA",  "DNCDATA.8",     "HOSTMAP",
      "CUSTOMER", "XREF",          "PROGXREF",
      "SCANRATE", "TEMPFILE.LOG",  "SHOPLINK SCREEN STATUS",
      "TRASH",    "AUTOPRINT.EXE", "SCRATCHPAD DATA FOR VISION CNC"};
  for (const char* n : kNames)
    if (upper == n) return true;
  if (upper == ucase(kNotFoundReply)) return true;
  // LEADER.001 ... TRAILER.008, and any other three-digit port number.
  for (const std::string stem : {"LEADER.", "TRAILER."}) {
    if (upper.size() == stem.size() + 3 && starts_with(upper, stem) &&
        std::all_of(upper.end() - 3, upper.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return true;
  }
  const std::string& dnc = s.config.dncdata_name;
  return !dnc.empty() && upper == ucase(dnc);
}

}  // namespace

fs::path upload_temporary_for(const fs::path& target) {
  return temporary_for(target);
}

bool is_upload_temporary(std::string_view name) {
  const std::string upper = ucase(name);
  return upper.size() > std::strlen(kTempPrefix) + std::strlen(kTempSuffix) &&
         starts_with(upper, kTempPrefix) && upper.ends_with(kTempSuffix);
}

bool station_own_file(const Station& s, const std::string& text) {
  const fs::path target = s.paths.existing(text);
  const std::string upper = ucase(target.filename().string());
  // Index, listing and temporaries belong to the station in every directory.
  if (upper == kContentsFile || upper == kContentsTempFile || upper == ucase(kListingFile) ||
      is_upload_temporary(upper))
    return true;
  const fs::path dir = resolved_dir(target.parent_path());
  auto same_file = [&](const std::string& own) {
    if (own.empty()) return false;
    const fs::path p = s.paths.existing(own);
    return ucase(p.filename().string()) == upper && resolved_dir(p.parent_path()) == dir;
  };
  if (same_file(s.config.log_path)) return true;
  if (dir == resolved_dir(s.paths.station_dir()) && station_dir_name(s, upper)) return true;
  if (!s.config.queue_dir.empty() && dir == resolved_dir(s.paths.existing(s.config.queue_dir))) {
    if (starts_with(upper, ucase(kQueueCommandFile)) || station_dir_name(s, upper)) return true;
  }
  return false;
}

bool create_upload_file(Station& s, const std::string& text, bool keep_old_until_data,
                        bool confine) {
  s.pending_upload.reset();
  if (s.Openfile == 0) s.Openfile = s.files.freefile();
  if (confine && !s.paths.confined(text)) {
    s.error_number = kConfinedError;
    return false;
  }
  const fs::path target = s.paths.existing(text);
  const fs::path temp = temporary_for(target);
  if (!s.files.open(s.Openfile, temp, FileMode::Write)) {
    s.error_number = static_cast<std::int16_t>(s.files.last_error());
    return false;
  }
  PendingUpload p;
  p.file = s.files.get(s.Openfile);
  p.temp = temp;
  p.target = target;
  p.keep_old_until_data = keep_old_until_data;
  s.pending_upload = p;
  return true;
}

void store_in_trash(Station& s) {
  log_event(s, 25);
  s.Filename = s.station_file(kTrashFile);
  log_event(s, 26);
  create_upload_file(s, s.Filename, false, false);
}

void write_upload_line(Station& s, std::string_view line) {
  std::string text;
  text.reserve(line.size() + 4);
  if (s.filetype == 3) text += '"';
  text += line;
  if (s.filetype == 3) text += '"';
  text += "\r\n";
  write_checked(s, text);
}

void write_upload_bytes(Station& s, std::string_view bytes) {
  write_checked(s, bytes);
}

void upload_data_arrived(Station& s) {
  if (PendingUpload* p = pending_for(s)) p->data_arrived = true;
}

UploadEnd close_upload_file(Station& s) {
  PendingUpload* p = pending_for(s);
  if (!p) {
    s.files.close(s.Openfile);
    return UploadEnd::Discarded;
  }
  const PendingUpload up = *p;
  s.pending_upload.reset();
  int error = up.write_error;
  errno = 0;
  if (std::fflush(up.file) != 0 && error == 0) error = errno ? errno : EIO;
  if (!s.files.close(s.Openfile) && error == 0) error = s.files.last_error();
  const bool keep = error == 0 && (!up.keep_old_until_data || up.data_arrived);
  std::error_code ec;
  const ProgramChange change =
      upload_change(s, up.target, up.temp, up.backup.empty() ? up.target : up.backup);
  if (keep) {
    s.events.program_replacing(change);
    fs::rename(up.temp, up.target, ec);
    if (ec) error = ec.value();
    s.events.program_replaced(change, !ec);
  }
  if (error != 0 || !keep) {
    if (up.data_arrived) s.events.upload_discarded(change);
    fs::remove(up.temp, ec);
  }
  if (error == 0) return keep ? UploadEnd::Stored : UploadEnd::Discarded;
  // The old program was moved to its backup for this upload; it goes back in its place.
  if (!up.backup.empty() && !fs::exists(up.target, ec)) fs::rename(up.backup, up.target, ec);
  s.error_number = static_cast<std::int16_t>(error);
  log_event(s, 25);
  s.window.set_status(" File " + up.target.string() + " not stored: " + std::strerror(error) + " ");
  return UploadEnd::Failed;
}

void remove_upload_temporaries(Station& s) {
  std::set<fs::path> dirs{resolved_dir(s.paths.station_dir())};
  for (int n = 1; n <= NumPorts; ++n) {
    const PortSettings& port = s.ports[static_cast<std::size_t>(n)];
    for (const std::string* list : {&port.receive_dir, &port.send_dir}) {
      std::array<std::string, kMaxDirEntries> each;
      const int last = split_directories(*list, each);
      for (int i = 0; i <= last; ++i) {
        const std::string& d = each[static_cast<std::size_t>(i)];
        if (!d.empty()) dirs.insert(resolved_dir(s.paths.existing(d)));
      }
    }
  }
  for (const fs::path& dir : dirs) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      std::error_code fec;
      if (is_upload_temporary(it->path().filename().string()) && it->is_regular_file(fec))
        fs::remove(it->path(), fec);
    }
  }
}

}  // namespace shoplink
