#pragma once
// The station's one shared context: the state record, the configuration, the code tables,
// the per-port reply buffers, the named timers, and the services the logic talks to.
#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/event_loop.hpp"
#include "base/file_table.hpp"
#include "base/host_paths.hpp"
#include "base/serial_port.hpp"
#include "core/code_types.hpp"
#include "core/station_config.hpp"
#include "core/station_events.hpp"
#include "core/station_state.hpp"
#include "ui/main_window.hpp"

namespace shoplink {

struct XrefEntry {
  std::string xref_name;
  std::string xref_drive;
};

// An upload is written under a temporary name and put in its program's place only when it
// has ended well, so that neither an upload without data nor a failed write ever destroys
// the old program. Everything that goes with the program (its backup, its index entry) is
// done at that moment too, in an order that a stop at any point leaves whole.
struct PendingUpload {
  std::FILE* file = nullptr;  // identifies the open upload (Openfile)
  std::filesystem::path temp, target;
  bool to_trash = false;  // a name the station refused: the upload goes to TRASH
  bool data_arrived = false;
  int write_error = 0;  // the first failed write's error number
  int line_breaks = 0;  // Station::line_breaks() when the upload began
  // "/BAK": the program standing at `target` is kept under this name when the upload
  // replaces it.
  std::filesystem::path backup;
  // The numbered index entry the upload makes in its folder's CONTENTS (empty number: none).
  std::string index_number, index_name;
  bool index_appended = false;  // "/32" without "/O": added at the end
};

struct StationServices {
  EventLoop& loop;
  SerialPort& line;
  MainWindow& window;
  Dialogs& dialogs;
  Platform& platform;
  HostPaths& paths;
};

class Station : public StationState {
 public:
  explicit Station(StationServices services);
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  EventLoop& loop;
  SerialPort& line;
  MainWindow& window;
  Dialogs& dialogs;
  Platform& platform;
  HostPaths& paths;

  StationConfig config;
  std::array<PortSettings, kPortTableSize> ports{};
  CodeTables codes;
  std::array<std::string, kPortTableSize> reply_buffer{};
  std::vector<XrefEntry> xref;  // the cross-reference table; xref_count = size() - 1
  FileTable files;
  std::optional<PendingUpload> pending_upload;
  // Who hears what the station does (core/station_events.hpp, core/station_reports.hpp).
  StationEventList events;
  // The transfer under way as it was reported when it began, and line_breaks() then.
  struct OpenTransfer {
    TransferStart start;
    int line_breaks = 0;
  };
  std::optional<OpenTransfer> transfer;
  // Ports whose queue command file could not be deleted: reported once, never run.
  std::array<bool, kPortTableSize> queue_file_stuck{};
  // After a failed trim of the system log, the loop time before which it is not tried again.
  std::optional<TimePoint> log_trim_retry_at;
  // Logs that cannot be written now: each failure is reported once until that log works
  // again. Kept per station, so that one station's failure never silences another's.
  std::set<std::string> failing_logs;

  // The main window's timers (intervals and handlers: station/timer_table.cpp,
  // wired by WiredStation).
  Timer Timer1, Timer2, Timer3, Timer4, Timer5, Timer6, Timer7, Timer8, Timer9, Timer10;
  Timer Timer11, Timer12, Timer13, Timer14, Timer15, Timer16, Timer17, Timer18, Timer19;
  Timer Timer20;
  Timer splash_timer;  // the power-up window's own timer
  // One-shot delay of the scan tick: the controller's output held by RTS while bytes already
  // on their way from the port being left arrive.
  Timer switch_guard;

  // The port being served.
  PortSettings& cur() { return ports[static_cast<std::size_t>(port)]; }
  const PortSettings& cur() const { return ports[static_cast<std::size_t>(port)]; }
  const std::string& station_dir() const { return paths.station_dir_text(); }
  // Station directory & "\" & name.
  std::string station_file(std::string_view name) const {
    return station_dir() + "\\" + std::string(name);
  }

  // Command capture: how many of rx_string's first characters are known to hold no block
  // end (so a block that arrives over many polls is searched once), whether the command
  // being received has already been reported as too long, and how many characters have
  // been searched in all (a work count for tests and benchmarks).
  std::size_t rx_searched = 0;
  bool command_overflow_reported = false;
  std::uint64_t capture_examined = 0;

  // The host line watch: since when output has waited on the line, and whether the line
  // has been reported dead.
  std::optional<TimePoint> host_line_waiting_since;
  bool host_line_reported = false;
  // Why the host line's connection is down (a network line that reconnects); empty while up.
  std::string host_line_lost;
  // Restarts of the port controller seen since start-up (it lost power and came back).
  int controller_restarts = 0;
  // A restart has been seen and the controller not yet probed and set up again, the port
  // the station was on then, and while the probe goes unanswered, the time of the next try.
  bool controller_setup_due = false;
  std::int16_t controller_restart_port = 1;
  std::optional<TimePoint> controller_setup_retry_at;
  // Changes whenever the way to the machines broke: the line's connection dropped or the
  // port controller restarted. A transfer or upload during which it changed did not
  // reach the other end whole, however it ended.
  int line_breaks() const { return line.interruptions() + controller_restarts; }

  // Keyboard selection: typed text is upper-case; digits alone may name a port number.
  bool machselect_digits_only = true;
  // Configure > Enter Password, until a Mode command or the return to scanning: the keys
  // typed are the password's (which nothing checks), never a port selection.
  bool password_entry = false;

  // The headless service ends with status 3 after a failed start-up scan, so that a
  // service manager can try again later; the desktop window shows the help screen instead.
  bool exit_on_scan_failure = false;

  // The program ends (missing DNCDATA, failed scan in the headless service, Exit).
  void end_program(int status) {
    exit_status = status;
    loop.quit();
  }
  std::optional<int> exit_status;
  bool stop_requested = false;  // a stop signal: the program ends with status 0
  bool shut_down = false;       // shutdown has run
};

}  // namespace shoplink
