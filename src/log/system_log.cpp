#include "log/system_log.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/clock.hpp"
#include "base/safe_files.hpp"
#include "base/text.hpp"
#include "core/station.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

constexpr std::size_t kMessageColumns = 55;
constexpr const char* kCrLf = "\r\n";

std::string port_text(const Station& s) {
  return "Port" + str(s.port);
}

// Closes on every path out; the log is opened and closed per entry.
struct File {
  std::FILE* f = nullptr;
  File(const fs::path& p, const char* mode) : f(std::fopen(p.c_str(), mode)) {}
  explicit File(std::FILE* file) : f(file) {}
  ~File() {
    if (f) std::fclose(f);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  explicit operator bool() const { return f != nullptr; }
  // fclose reports a write that only failed when the buffer was flushed (a full disk).
  bool close() {
    const bool ok = std::fclose(f) == 0;
    f = nullptr;
    return ok;
  }
};

bool write_all(std::FILE* f, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

// Drops whole lines from the front until at least a fifth of the limit is gone, through the
// temporary file, then puts the temporary file in the log's place in one step, so the log is
// never missing. False when the log could not be trimmed (it is then left as it was).
bool trim_log(Station& s, const fs::path& log, double limit) {
  const fs::path temp = s.paths.host_path(s.station_file(kTempLogFile));
  {
    int error = 0;
    File out(create_temporary(temp, error));
    if (!out) return false;
    File in(log, "rb");
    if (!in) return false;
    std::string line;
    double count = 0;
    const double skip = limit / 5;
    while (count < skip && FileTable::read_line(in.f, line))
      count += static_cast<double>(line.size()) + 2;
    bool ok = true;
    while (ok && FileTable::read_line(in.f, line)) ok = write_all(out.f, line + kCrLf);
    const bool read_ok = !std::ferror(in.f);
    if (!out.close() || !ok || !read_ok) {
      std::error_code ec;
      fs::remove(temp, ec);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, log, ec);
  if (ec) {
    fs::remove(temp, ec);
    return false;
  }
  if (s.window.menu_checked(Menu::View_Log)) {
    std::string text;
    File in(log, "rb");
    if (in) {
      char buf[8192];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, in.f)) > 0) text.append(buf, n);
    }
    s.window.log_viewer_load(text);
  }
  return true;
}

void note_outcome(Station& s, bool ok) {
  auto& failing = s.failing_logs;
  const std::string& key = s.config.log_path;
  if (ok) {
    failing.erase(key);
  } else if (failing.insert(key).second) {
    s.window.set_status(" System log " + key + " cannot be written ");
  }
}

// The entry is written; only the trim failed. A trim costs a rewrite of the whole log, so
// after a failure it waits a while instead of being tried again on every entry.
void trim_when_due(Station& s, const fs::path& log) {
  const TimePoint now = s.loop.clock().now();
  if (s.log_trim_retry_at && now < *s.log_trim_retry_at) return;
  if (trim_log(s, log, static_cast<double>(s.config.log_limit))) {
    s.log_trim_retry_at.reset();
    return;
  }
  s.log_trim_retry_at = now + kLogTrimRetry;
  s.window.set_status(kLogTrimFailedStatus);
}

}  // namespace

std::string log_message(const Station& s, int code) {
  const std::string q = "\"";
  // Paths read as this host writes them; the station's own text form stays internal.
  const std::string file = s.paths.display(s.Filename);
  switch (code) {
    case 0:
      return port_text(s) + " Request for file " + file;
    case 1:
      return "File " + file + " transmitted";
    case 2:
      return "CTS Handshake timeout .. File not sent";
    case 3:
      return "Xoff Handshake timeout ... File not sent";
    case 4:
      return "No Xon received ... File not sent";
    case 5:
      return port_text(s) + " File " + file + " manually sent";
    case 6:
      return "SEND NOW  button pressed";
    case 7:
      return "STOP  button pressed - transmission aborted";
    case 8:
      return port_text(s) + " Request to store file " + file + " with R-command";
    case 9:
      return "File " + file + " received ";
    case 10:
      return "No data received - RX timout";
    case 11:
      return port_text(s) + ": Request to store file " + file + " with ID";
    case 12:
      return "STOP  button pressed - reception aborted";
    case 13:
      return port_text(s) + ": Request for directory";
    case 14:
      return "Directory transmitted";
    case 15:
      return "SHOPLINK started";
    case 16:
      return "SHOPLINK stopped (Mode menu / Exit)";
    case 17:
      return "File not found";
    case 18:
      return "Xon received - sending file ";
    case 19:
      return "Xon not received - sending after timeout";
    case 20:
      return port_text(s) + " - EIA command received: <" + s.rx_line + ">";
    case 21:
      return port_text(s) + " - ASCII command received: <" + s.rx_line + ">";
    case 22:
      return "Command ignored";
    case 23:
      return "AK not received from CNC within 20 sec.";
    case 24:
      return "Attempt to store file " + file;
    case 25:
      return "Error number" + str(s.error_number) + " occurred ";
    case 26:
      // The program directory is the station directory.
      return "Storing data as file " + s.paths.display(s.station_file("TRASH"));
    case 27:
      return port_text(s) + " - Beginning of cycle :";
    case 28:
      return port_text(s) + " - Finish of cycle    :";
    case 29:
      return port_text(s) + " - Probed dimension " + s.probe + "  ";
    case 30:
      return port_text(s) + " Converting file " + file + " for Vision CNC";
    case 31:
      return "Autopath/Vision file conversion error";
    case 32:
      return "Autopath/Vision file conversion successful";
    case 33:
      return "Customer name: " + s.Customer_name;
    case 34:
      return "File not found - adding " + q + "MO" + q + " to file name";
    case 35:
      return "No CRs found in file - using auto filter function";
    case 36:
      return "File not found - adding " + q + "M0" + q + " to file name";
    case 37:
      return port_text(s) + " - Stop for tool change:";
    case 38:
      return port_text(s) + " - Resume from tool change:";
    case 39:
      return "Lynx controller request for file " + file;
    case 40:
      return "SHOPLINK assigns 1st unused number of " + file;
    case 41: {
      // The backup's name in upper case; its folder as the host names it.
      const std::string bak = s.paths.display(s.BAK_name);
      const std::size_t name = bak.rfind('/') + 1;  // 0 when there is no folder
      return "Creating backup file " + bak.substr(0, name) + ucase(bak.substr(name));
    }
    case 42:
      return "Deleting old .BAK file";
    default:
      return {};
  }
}

std::string log_line(const std::string& message, const LocalTime& t) {
  // Machine text in a message must not end the line early or reach a terminal raw.
  std::string line = visible(message);
  line += line.size() < kMessageColumns ? space(kMessageColumns - line.size()) : space(2);
  return line + date_text(t) + " @ " + time_text(t);
}

void log_event(Station& s, int code) {
  log_text(s, log_message(s, code));
}

void log_text(Station& s, const std::string& message) {
  // Nothing to write to before DNCDATA has named the log.
  if (s.config.log_path.empty()) return;
  const std::string line = log_line(message, s.loop.clock().local_now());
  if (s.window.menu_checked(Menu::View_Log)) s.window.log_viewer_append(line + kCrLf);

  const fs::path log = s.paths.existing(s.config.log_path);
  // An entry is whole or absent: one cut off by a full disk would run into the next.
  // The log's name is the operator's: a link there is the operator's choice too.
  int error = 0;
  bool ok = append_whole(log, line + kCrLf, error, true);
  std::error_code ec;
  const auto size = ok ? fs::file_size(log, ec) : 0;
  if (ec) ok = false;
  if (ok && static_cast<double>(size) > static_cast<double>(s.config.log_limit))
    trim_when_due(s, log);
  note_outcome(s, ok);
}

}  // namespace shoplink
