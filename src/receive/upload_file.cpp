#include "receive/upload_file.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "base/safe_files.hpp"
#include "base/text.hpp"
#include "config/dncdata.hpp"
#include "core/station.hpp"
#include "core/station_files.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "receive/contents_index.hpp"
#include "receive/trash_files.hpp"
#include "requests/command_interpreter.hpp"
#include "requests/directory_request.hpp"
#include "requests/file_request.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// An upload whose file was closed elsewhere (Stop, Mode menu, a quit) never commits; its
// temporary goes at once, so that the only temporary a later stop can leave behind is the
// one of the upload then under way.
void forget_abandoned_upload(Station& s) {
  auto& p = s.pending_upload;
  if (!p) return;
  if (p->file != nullptr && p->file == s.files.get(s.Openfile)) s.files.close(s.Openfile);
  std::error_code ec;
  fs::remove(p->temp, ec);
  p.reset();
}

// The pending upload for the file open under `Openfile`, or nullptr; an entry left by a
// transfer closed elsewhere never matches a later one.
PendingUpload* pending_for(Station& s) {
  auto& p = s.pending_upload;
  if (!p) return nullptr;
  if (p->file == nullptr || p->file != s.files.get(s.Openfile)) {
    std::error_code ec;
    fs::remove(p->temp, ec);
    p.reset();
    return nullptr;
  }
  return &*p;
}

constexpr const char* kTempPrefix = "~";
constexpr const char* kTempSuffix = ".UPLOAD";

// How deep below a configured directory a stop's leftovers are looked for at start-up.
constexpr int kUploadFolderDepth = 3;

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
  // The activity records of one site, one file a work shift: mm-dd-yy.001 to .003.
  if (upper.size() == 12 && upper[2] == '-' && upper[5] == '-' && upper.substr(8, 3) == ".00" &&
      upper[11] >= '1' && upper[11] <= '3')
    return true;
  if (starts_with(upper, std::string(kTrashFile) + ".")) return true;
  const std::string& dnc = s.config.dncdata_name;
  return !dnc.empty() && upper == ucase(dnc);
}

// A port's machine-activity record, ACTIVITY.nn, in whatever folder the port keeps it.
bool activity_file_name(const std::string& upper) {
  return upper.size() == 11 && starts_with(upper, "ACTIVITY.") &&
         std::isdigit(static_cast<unsigned char>(upper[9])) &&
         std::isdigit(static_cast<unsigned char>(upper[10]));
}

// Anything in the station directory's journal folder, whatever its case.
bool in_journal_folder(const Station& s, const fs::path& real) {
  const fs::path journal = real_path(s.paths.existing(s.station_file(kJournalFolder)));
  return HostPaths::inside(real, journal);
}

// What the upload's content does to a program, for the station's listeners (the journal
// keeps the old content before it goes).
ProgramChange change_of(Station& s, const PendingUpload& up) {
  return upload_change(s, up.target, up.temp, up.target);
}

// The upload will not become the program: listeners see what came before it is moved or
// removed.
void discarding(Station& s, const PendingUpload& up) {
  if (up.data_arrived) s.events.upload_discarded(change_of(s, up));
}

UploadEnd failed_commit(Station& s, const PendingUpload& up, int error) {
  std::error_code ec;
  fs::remove(up.temp, ec);
  s.error_number = static_cast<std::int16_t>(error);
  log_event(s, 25);
  s.window.set_status(" File " + up.target.string() + " not stored: " + std::strerror(error) + " ");
  return UploadEnd::Failed;
}

// The upload cannot take the program's place: it is kept as the newest TRASH file and the
// log says why and where. The old program stays as it is.
UploadEnd keep_aside(Station& s, const PendingUpload& up, const std::string& why) {
  discarding(s, up);
  if (const int e = put_in_trash(s, up.temp); e != 0) return failed_commit(s, up, e);
  s.Filename = s.station_file(kTrashFile);
  log_text(s, why + " - data kept in " + s.paths.display(s.Filename));
  s.window.set_status(" " + why + ": " + s.paths.display(s.Filename) + " ");
  return UploadEnd::KeptInTrash;
}

void step_done(const char* step) {
  if (g_upload_commit_step) g_upload_commit_step(step);
}

// The index entry of a numbered upload, written beside the old index before the program is
// replaced, so that both can be put in place back to back. The program goes in anyway when
// the index cannot be written: the operator is told that its entry is missing.
std::optional<fs::path> update_contents_file(Station& s, const PendingUpload& up) {
  if (up.index_number.empty()) return std::nullopt;
  const fs::path dir = up.target.parent_path();
  const fs::path tempfile = dir / kContentsTempFile;
  const fs::path contents = s.paths.existing((dir / kContentsFile).string());
  if (write_new_contents(contents, tempfile, up.index_number, up.index_name, s.char_count,
                         up.index_appended))
    return tempfile;
  s.window.set_status(" " + contents.string() + " could not be updated ");
  return std::nullopt;
}

UploadEnd commit_program(Station& s, const PendingUpload& up) {
  const std::optional<fs::path> new_index = update_contents_file(s, up);
  step_done("index written");
  std::error_code ec;
  auto undo_index = [&] {
    if (new_index) fs::remove(*new_index, ec);
  };
  if (!up.backup.empty() && fs::is_regular_file(up.target, ec)) {
    if (fs::exists(fs::symlink_status(up.backup, ec))) {
      fs::remove(up.backup, ec);
      log_event(s, 42);
    }
    step_done("old backup deleted");
    if (!keep_copy(up.target, up.backup, ec)) {
      undo_index();
      s.error_number = static_cast<std::int16_t>(ec.value());
      log_event(s, 25);
      return keep_aside(s, up, "Backup not made");
    }
    log_event(s, 41);
    step_done("backup made");
  }
  const ProgramChange change = change_of(s, up);
  s.events.program_replacing(change);
  const bool moved = move_file(up.temp, up.target, ec);
  s.events.program_replaced(change, moved);
  if (!moved) {
    undo_index();
    return failed_commit(s, up, ec.value() ? ec.value() : EIO);
  }
  step_done("program replaced");
  if (new_index) {
    const fs::path contents = new_index->parent_path() / kContentsFile;
    if (!install_contents(*new_index, s.paths.existing(contents.string())))
      s.window.set_status(" " + contents.string() + " could not be updated ");
  }
  step_done("index replaced");
  return UploadEnd::Stored;
}

// The folders a stop can leave an upload's temporary in: the station directory, the ports'
// directories, and the folders under them that requests reach (site and letter folders).
std::set<fs::path> upload_folders(const Station& s) {
  std::set<fs::path> roots{real_path(s.paths.station_dir())};
  for (int n = 1; n <= NumPorts; ++n) {
    const PortSettings& port = s.ports[static_cast<std::size_t>(n)];
    for (const std::string* list : {&port.receive_dir, &port.send_dir}) {
      std::array<std::string, kMaxDirEntries> each;
      const int last = split_directories(*list, each);
      for (int i = 0; i <= last; ++i) {
        const std::string& d = each[static_cast<std::size_t>(i)];
        if (!d.empty()) roots.insert(real_path(s.paths.existing(d)));
      }
    }
  }
  std::set<fs::path> dirs;
  for (const fs::path& root : roots) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) continue;
    dirs.insert(root);
    // Links are not followed: they lead to folders listed in their own right, or elsewhere.
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code dec;
      if (it.depth() >= kUploadFolderDepth - 1) it.disable_recursion_pending();
      if (it->is_directory(dec) && !it->is_symlink(dec)) dirs.insert(it->path());
    }
  }
  return dirs;
}

}  // namespace

bool station_own_file(const Station& s, const std::string& text) {
  const fs::path target = s.paths.existing(text);
  const std::string upper = ucase(target.filename().string());
  // Index, listing and temporaries belong to the station in every directory.
  if (upper == kContentsFile || upper == kContentsTempFile || upper == ucase(kListingFile) ||
      is_upload_temporary(upper) || activity_file_name(upper))
    return true;
  const fs::path dir = real_path(target.parent_path());
  if (in_journal_folder(s, real_path(target))) return true;
  auto same_file = [&](const std::string& own) {
    if (own.empty()) return false;
    const fs::path p = s.paths.existing(own);
    return ucase(p.filename().string()) == upper && real_path(p.parent_path()) == dir;
  };
  if (same_file(s.config.log_path)) return true;
  if (dir == real_path(s.paths.station_dir()) && station_dir_name(s, upper)) return true;
  if (!s.config.queue_dir.empty() && dir == real_path(s.paths.existing(s.config.queue_dir))) {
    if (starts_with(upper, ucase(kQueueCommandFile)) || station_dir_name(s, upper)) return true;
  }
  return false;
}

bool station_private_file(const Station& s, const std::string& text) {
  const fs::path target = real_path(s.paths.existing(text));
  const fs::path station = real_path(s.paths.station_dir());
  if (in_journal_folder(s, target)) return true;
  return target.parent_path() == station && ucase(target.filename().string()) == "HOSTMAP";
}

void (*g_upload_commit_step)(const char* step) = nullptr;

bool create_upload_file(Station& s, const std::string& text) {
  forget_abandoned_upload(s);
  if (s.Openfile == 0) s.Openfile = s.files.freefile();
  // Where the program really is: an upload replaces the file a link inside the station's
  // directories names, never the link (a name leading outside was refused before).
  const fs::path target = real_path(s.paths.existing(text));
  const fs::path temp = temporary_for(target);
  if (!s.files.open(s.Openfile, temp, FileMode::Temporary)) {
    s.error_number = static_cast<std::int16_t>(s.files.last_error());
    return false;
  }
  PendingUpload p;
  p.file = s.files.get(s.Openfile);
  p.temp = temp;
  p.target = target;
  p.line_breaks = s.line_breaks();
  s.pending_upload = p;
  return true;
}

void store_in_trash(Station& s) {
  log_event(s, 25);
  s.Filename = s.station_file(kTrashFile);
  log_event(s, 26);
  if (create_upload_file(s, s.Filename)) s.pending_upload->to_trash = true;
}

void keep_backup_at_commit(Station& s, const std::string& bak_text) {
  if (PendingUpload* p = pending_for(s); p && !p->to_trash)
    p->backup = p->target.parent_path() / s.paths.existing(bak_text).filename();
}

void index_at_commit(Station& s, const std::string& number, const std::string& name, bool append) {
  if (PendingUpload* p = pending_for(s); p && !p->to_trash) {
    p->index_number = number;
    p->index_name = name;
    p->index_appended = append;
  }
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
  if (error == 0) flush_to_disk(up.file, error);
  if (!s.files.close(s.Openfile) && error == 0) error = s.files.last_error();
  if (error != 0) {
    discarding(s, up);
    return failed_commit(s, up, error);
  }
  if (!up.data_arrived) {
    std::error_code ec;
    fs::remove(up.temp, ec);
    return UploadEnd::Discarded;
  }
  // What went over a line that broke may have a hole in it: never a program.
  if (s.line_breaks() != up.line_breaks)
    return keep_aside(s, up, "Host line lost during the upload");
  if (up.to_trash) {
    discarding(s, up);
    if (const int e = put_in_trash(s, up.temp); e != 0) return failed_commit(s, up, e);
    return UploadEnd::Stored;
  }
  return commit_program(s, up);
}

void discard_upload_file(Station& s) {
  // The old program was never touched: its backup is made only when an upload commits.
  forget_abandoned_upload(s);
  s.files.close(s.Openfile);
}

fs::path upload_temporary_for(const fs::path& target) {
  return temporary_for(target);
}

bool is_upload_temporary(std::string_view name) {
  const std::string upper = ucase(name);
  return upper.size() > std::strlen(kTempPrefix) + std::strlen(kTempSuffix) &&
         starts_with(upper, kTempPrefix) && upper.ends_with(kTempSuffix);
}

void finish_interrupted_uploads(Station& s) {
  for (const fs::path& dir : upload_folders(s)) {
    std::error_code ec;
    bool upload_left = false;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      std::error_code fec;
      if (!is_upload_temporary(it->path().filename().string())) continue;
      upload_left = true;
      if (it->is_regular_file(fec) || it->is_symlink(fec)) fs::remove(it->path(), fec);
    }
    const fs::path tempfile = dir / kContentsTempFile;
    if (!fs::exists(fs::symlink_status(tempfile, ec))) continue;
    // With the upload's temporary still there the program had not been replaced: its new
    // index must not go in. Without it, the program had been replaced and only the index
    // was left to put in place.
    if (upload_left || is_link(tempfile)) {
      fs::remove(tempfile, ec);
    } else if (install_contents(tempfile, dir / kContentsFile)) {
      log_text(s, "Index " + (dir / kContentsFile).string() + " completed after a stop");
    }
  }
}

}  // namespace shoplink
