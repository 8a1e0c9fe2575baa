#include "station/commissioning.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>
#include <system_error>

#include "base/host_paths.hpp"
#include "base/net_serial_port.hpp"
#include "base/posix_serial_port.hpp"
#include "base/text.hpp"
#include "base/virtual_loop.hpp"
#include "config/dncdata.hpp"
#include "config/leader_trailer.hpp"
#include "core/code_types.hpp"
#include "journal/journal.hpp"
#include "journal/journal_file.hpp"
#include "plant/plant_settings.hpp"
#include "station/customer_profile.hpp"
#include "station/offline_line.hpp"
#include "station/port_scan.hpp"
#include "station/wired_station.hpp"
#include "ui/recorder.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// ---- init -----------------------------------------------------------------------------

// Every line counts (comment-only lines too), so each field is taught by the comment on its
// own line and the longer notes come after the last port block, where nothing is read.
struct StarterPort {
  const char* settings;
  const char* code;
  const char* note;
};

// The ports mirror a typical mixed shop: ISO with even, odd and no parity, one EIA tape
// reader at 4800 baud, two machines that upload.
constexpr StarterPort kStarterPorts[] = {
    {"9600 (MACHINE 1) /E", "0", "ISO, even parity"},
    {"4800 (MACHINE 2)", "3", "EIA RS-244-B"},
    {"9600 (MACHINE 3) /E", "0", "ISO, even parity"},
    {"9600 (MACHINE 4)", "2", "ASCII, no parity"},
    {"9600 (MACHINE 5)", "1", "ASCII, odd parity"},
    {"9600 (MACHINE 6)", "0 DELAY=2", "an upload ends 2 s after its last character"},
    {"9600 (MACHINE 7)", "0 DELAY=2", "an upload ends 2 s after its last character"},
    {"9600 (MACHINE 8)", "0", "ISO, even parity"},
};

std::string commented(const std::string& field, const std::string& comment) {
  std::string line = field;
  if (line.size() < 26) line.resize(26, ' ');
  return line + "' " + comment + "\r\n";
}

std::string starter_dncdata() {
  std::string t;
  t += commented("COM1:9600",
                 "line 1: host port COMn (HOSTMAP says which device) : rate;"
                 " \",DIR\" adds a queue directory");
  t += commented("DOS =20",
                 "line 2: default file type (WINDOWS, PCNC, ASCII, DOS = none)"
                 " = response time-out in s");
  t += commented("SHOPLINK.LOG,50000",
                 "line 3: system log in the station directory , size limit in bytes");
  int n = 1;
  for (const auto& p : kStarterPorts) {
    const std::string port = "port " + std::to_string(n);
    if (n == 1) {
      t += commented(p.settings, port +
                                     ": rate (110-9600) (MACHINE NAME) CD=ms a character,"
                                     " /E even parity, /2 two stop bits");
      t += commented(p.code, std::string(p.note) +
                                 ": code 0 ISO even, 1 odd, 2 none, 3 EIA, 4 EIA without"
                                 " parity track, 5 numeric; switches; DELAY= s");
      t += commented(kStarterProgramDir,
                     "receive directory (uploads); empty = station directory, C: = C:\\");
      t += commented(kStarterProgramDir, "send directory (programs the machine asks for)");
      t += commented(",+.NC",
                     "name characters , options: X=T IGNORE= +.EXT DIR= EOB=13,10 MASK= ()");
    } else {
      t += commented(p.settings, port);
      t += commented(p.code, p.note);
      t += commented(kStarterProgramDir, "receive directory");
      t += commented(kStarterProgramDir, "send directory");
      t += commented(",+.NC", "programs are NAME.NC");
    }
    ++n;
  }
  t += "'\r\n"
       "' Nothing below the eighth port block is read. Each port block is five lines:\r\n"
       "'   1 line settings: baud rate, optional (MACHINE NAME), CD= character delay in ms,\r\n"
       "'     /E and /2 for the port controller's framing of that port\r\n"
       "'   2 code type 0-5 first, then controller words and switches (AB, FAGOR, MHP, /BAK,\r\n"
       "'     ...), DELAY= the reception time-out in seconds (default 5)\r\n"
       "'   3 receive directory, 4 send directory: relative paths are taken from the station\r\n"
       "'     directory, drive letters through HOSTMAP (C:=/srv/nc)\r\n"
       "'   5 name characters, then after a comma the options: X=T makes X the T command\r\n"
       "'     character (likewise R, P, S, F, D), IGNORE=, +.EXT appended to requested\r\n"
       "'     names, DIR=, EOB=13,10 end of block, MASK=32 (codes, comma between)\r\n"
       "' An apostrophe starts a comment; empty lines count as lines. Check the reading\r\n"
       "' with: shoplink check --station-dir THIS_DIRECTORY\r\n";
  return t;
}

constexpr const char* kStarterHostmap =
    "' HOSTMAP: where the station's COM ports and drive letters are on this host.\r\n"
    "' One NAME=VALUE a line; an apostrophe starts a comment; --map NAME=VALUE on the\r\n"
    "' command line wins. Remove the apostrophe in front of an example to use it.\r\n"
    "'COM1=/dev/ttyUSB0       ' the host line of DNCDATA line 1 (default: COMn = "
    "/dev/ttyS<n-1>)\r\n"
    "'COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\r\n"
    "'C:=/srv/nc              ' drive C: of every configured or requested path\r\n"
    "'E:=/mnt/programs        ' drive E:\r\n"
    "WEB=127.0.0.1:8080       ' the status page, for a browser on this machine; 0.0.0.0:8080\r\n"
    "'                          for every browser on the shop's network\r\n"
    "'WEB_PASSWORD=choose-one ' lets the status page show program contents and diffs\r\n";

constexpr const char* kStarterProgramText =
    "%\r\n"
    "O0001 (SHOPLINK SAMPLE PROGRAM)\r\n"
    "G21 G90 G40 G80\r\n"
    "G0 X0 Y0\r\n"
    "M30\r\n"
    "%\r\n";

// ---- check ----------------------------------------------------------------------------

const char* file_type_name(DefaultFileType t) {
  switch (t) {
    case DefaultFileType::WINDOWS:
      return "WINDOWS";
    case DefaultFileType::PCNC:
      return "PCNC";
    case DefaultFileType::ASCII:
      return "ASCII";
    case DefaultFileType::None:
      break;
  }
  return "none (DOS)";
}

std::string code_and_parity(int type) {
  switch (type) {
    case 0:
      return "0 ISO, even parity";
    case 1:
      return "1 ISO, odd parity";
    case 2:
      return "2 ISO, no parity";
    case 3:
      return "3 EIA RS-244-B";
    case 4:
      return "4 EIA without the parity track";
    case 5:
      return "5 numeric";
    default:
      return std::to_string(type) + " (not a code type)";
  }
}

std::string number(double v) {
  return fmt::format("{:g}", v);
}

// "13,10" reads "CR LF"; other codes as their numbers.
std::string char_names(const std::string& codes) {
  std::string out;
  for (unsigned char c : codes) {
    if (!out.empty()) out += ' ';
    if (c == 13) {
      out += "CR";
    } else if (c == 10) {
      out += "LF";
    } else {
      out += std::to_string(c);
    }
  }
  return out;
}

class Checker {
 public:
  Checker(const fs::path& dir, const std::vector<std::string>& maps) : paths_(dir) {
    for (const auto& bad : paths_.load_hostmap_file())
      problem("HOSTMAP: cannot read the line \"" + bad + "\"");
    for (const auto& m : maps)
      if (!paths_.map_assignment(m)) problem("--map " + m + ": expected NAME=VALUE");
  }

  CheckReport run() {
    std::error_code ec;
    if (!fs::is_directory(paths_.station_dir(), ec)) {
      problem("station directory " + paths_.station_dir_text() + " does not exist");
      return std::move(report_);
    }
    say("Station directory: " + paths_.station_dir_text());
    // The readers of start-up, in its order, on a station that is never started.
    load_customer_profile(s_);
    read_leaders_trailers(s_);
    const DncdataReading r = parse_dncdata(s_);
    if (!dncdata(r)) return std::move(report_);
    host_line();
    station_files();
    journal();
    plant();
    customer();
    const int ports = r.status == DncdataStatus::BrokenOptions ? r.port - 1 : NumPorts;
    for (int k = 1; k <= ports; ++k) port(k);
    return std::move(report_);
  }

 private:
  void say(std::string line) { report_.lines.push_back(std::move(line)); }
  void problem(std::string text) { report_.problems.push_back(std::move(text)); }
  std::string shown(const std::string& text) const { return paths_.display(text); }
  // A configured directory as the host finds it (relative ones from the station directory).
  std::string on_host(const std::string& text) const { return paths_.host_path(text).string(); }

  bool dncdata(const DncdataReading& r) {
    const std::string name = shown(s_.config.dncdata_path);
    switch (r.status) {
      case DncdataStatus::Missing:
        problem("no DNCDATA.8 or DNCDATA in the station directory (shoplink init writes one)");
        return false;
      case DncdataStatus::Unreadable:
        problem(name + " cannot be read or has more than " + std::to_string(kMaxDncdataLines) +
                " lines");
        return false;
      case DncdataStatus::BrokenOptions:
        problem(name + ": port " + std::to_string(r.port) +
                ": the option area (line 5 of the block) begins with a command character"
                " assignment such as =T");
        break;
      case DncdataStatus::BadCodeType:
      case DncdataStatus::Ok:
        break;
    }
    say("Configuration: " + name + " (" + std::to_string(r.line_count) + " lines)");
    return true;
  }

  // Line 1 as the start-up scan reads it: "COM" digit ":" rate.
  void host_line() {
    const std::string& host = s_.config.host_port;
    const std::string digit = mid(host, 4, 1);
    const std::string rate = mid(host, 6, 4);
    const std::string device = paths_.com_device(digit);
    say("Host line: " + host + " -> " + (device.empty() ? std::string("(no device)") : device) +
        ", " + std::to_string(round_int(val(rate))) + " baud");
    if (device.empty()) {
      problem("host line \"" + host + "\" names no COM port (line 1 reads COMn:rate)");
    } else {
      device_problems(device);
    }
    if (!PosixSerialPort::rate_supported(static_cast<long>(round_int(val(rate)))))
      problem("host line rate \"" + rate + "\" is not one the serial line can take");
    if (s_.config.queue_dir != s_.station_dir()) {
      say("Queue directory: " + on_host(s_.config.queue_dir));
      directory_problems("queue directory", s_.config.queue_dir, true);
    }
  }

  void device_problems(const std::string& device) {
    // A network device server: one bounded connection, closed at once, nothing sent (a
    // server that serves one client at a time may drop a running station's meanwhile).
    if (NetSerialPort::names_network(device)) {
      if (const std::string why = NetSerialPort::try_connect(device); !why.empty())
        problem("host device server " + why + " (HOSTMAP or --map COMn=tcp://HOST:PORT)");
      return;
    }
    std::error_code ec;
    if (!fs::exists(device, ec)) {
      problem("host device " + device + " does not exist (HOSTMAP or --map COMn=DEVICE)");
      return;
    }
    // Opened and closed at once, nothing sent: can this user have the line at all?
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      problem("host device " + device + " cannot be opened: " + std::strerror(errno));
      return;
    }
    const bool tty = ::isatty(fd) == 1;
    ::close(fd);
    if (!tty) problem("host device " + device + " is not a serial line");
  }

  void station_files() {
    say("Defaults: file type " + std::string(file_type_name(s_.config.default_file_type)) +
        ", response time-out " + number(s_.config.response_timeout_ms / 1000.0) + " s");
    say("System log: " + shown(s_.config.log_path) + ", limit " +
        std::to_string(s_.config.log_limit) + " bytes");
    const fs::path log = paths_.existing(s_.config.log_path);
    std::error_code ec;
    if (fs::exists(log, ec)) {
      if (::faccessat(AT_FDCWD, log.c_str(), W_OK, AT_EACCESS) != 0)
        problem("system log " + shown(s_.config.log_path) + " is not writable");
    } else if (::faccessat(AT_FDCWD, log.parent_path().c_str(), W_OK, AT_EACCESS) != 0) {
      problem("system log " + shown(s_.config.log_path) + " cannot be made (directory " +
              log.parent_path().string() + " not writable)");
    }
  }

  // The journal's settings in HOSTMAP; the journal itself is made by the first run.
  void journal() {
    std::vector<std::string> wrong;
    const JournalSettings j = journal_settings(paths_, &wrong);
    for (const auto& w : wrong) problem("HOSTMAP: " + w);
    say("Journal: " + journal_path(paths_.station_dir()).string() + ", the last " +
        std::to_string(j.history_keep) + " revisions of each program within " +
        std::to_string(j.history_bytes >> 20) + " MB, rows for " +
        std::to_string(j.retention_days) + " days");
  }

  // The plant publisher's settings; the broker itself is not tried (the station's first
  // connection says how it went, in the log).
  void plant() {
    std::vector<std::string> wrong;
    const auto p = plant_settings(paths_, &wrong);
    for (const auto& w : wrong) problem("HOSTMAP: " + w);
    if (!p) {
      if (wrong.empty()) say("Plant publisher: off (no MQTT= in HOSTMAP)");
      return;
    }
    say("Plant publisher: " + p->url + ", topic " + p->topic +
        (p->user.empty() ? "" : ", user " + p->user) +
        (p->password.empty() ? "" : " with a password") +
        (p->broker.tls
             ? ", TLS checked against " +
                   (p->ca_file.empty() ? std::string("the system's authorities") : p->ca_file)
             : ""));
  }

  void customer() {
    if (s_.Customer_name.empty()) {
      say("Customer: none (no CUSTOMER file: no site-specific behaviour)");
    } else {
      say("Customer: " + s_.Customer_name +
          (s_.Customer_city_state.empty() ? "" : ", " + s_.Customer_city_state));
    }
  }

  void port(int k) {
    const PortSettings& p = s_.ports[static_cast<std::size_t>(k)];
    const std::string n = std::to_string(k);
    const std::string name = machine_name_of(p.line_settings);
    const double rate = val(p.line_settings);
    std::string head = "Port " + n + (name.empty() ? "" : " (" + name + ")") + ": " +
                       std::to_string(round_int(rate)) + " baud, code " +
                       code_and_parity(p.code_type);
    const std::string eob =
        !p.eob.empty() ? p.eob : (p.code_type >= 3 ? std::string("\n") : std::string("\r\n"));
    head += ", end of block " + char_names(eob);
    say(head);
    say("  receive " + on_host(p.receive_dir) + ", send " + on_host(p.send_dir));
    std::string opts;
    auto opt = [&](const std::string& t) { opts += (opts.empty() ? "" : ", ") + t; };
    if (!p.code_line.empty()) opt("code line \"" + p.code_line + "\"");
    opt("reception time-out " + number(p.delay_ms > 0 ? p.delay_ms / 1000 : 5) + " s");
    if (!p.name_chars.empty()) opt("name characters \"" + p.name_chars + "\"");
    if (p.command_chars != PortSettings{}.command_chars)
      opt("command characters \"" + p.command_chars + "\"");
    if (!p.extension.empty()) opt("extension " + p.extension);
    if (!p.subdir.empty()) opt("DIR=" + p.subdir);
    if (!p.ignore.empty()) opt("IGNORE=" + p.ignore);
    if (!p.mask.empty()) opt("MASK " + char_names(p.mask));
    if (p.paren_flag) opt("()");
    opt(p.leader.empty() ? std::string("no leader")
                         : "leader " + std::to_string(p.leader.size()) + " bytes");
    opt(p.trailer.empty() ? std::string("no trailer")
                          : "trailer " + std::to_string(p.trailer.size()) + " bytes");
    say("  " + opts);

    if (p.code_type < 0 || p.code_type >= kCodeTypes)
      problem("port " + n + ": code type " + std::to_string(p.code_type) + " is not one of 0 to 5");
    if (baud_code_for(rate) == 0)
      problem("port " + n + ": rate \"" + p.line_settings +
              "\" is not one the port controller takes (110, 135, 300, 600, 1200, 2400, 4800,"
              " 9600)");
    directory_problems("port " + n + " receive directory", p.receive_dir, true);
    directory_problems("port " + n + " send directory", p.send_dir, false);
  }

  void directory_problems(const std::string& what, const std::string& text, bool written) {
    if (char d = HostPaths::drive_of(text); d != 0 && !paths_.lookup(std::string(1, d) + ":")) {
      problem(what + " " + text + ": drive " + d + ": is not mapped (HOSTMAP " + d +
              ":=/host/folder)");
      return;
    }
    const fs::path dir = paths_.existing(text);
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
      problem(what + " " + on_host(text) + " does not exist");
      return;
    }
    if (::faccessat(AT_FDCWD, dir.c_str(), written ? (W_OK | X_OK) : (R_OK | X_OK), AT_EACCESS) !=
        0)
      problem(what + " " + on_host(text) + (written ? " is not writable" : " is not readable"));
  }

  HostPaths paths_;
  VirtualClock clock_;
  VirtualLoop loop_{clock_};
  OfflineLine line_;
  RecordingWindow window_;
  RecordingDialogs dialogs_;
  RecordingPlatform platform_;
  WiredStation s_{{loop_, line_, window_, dialogs_, platform_, paths_}};
  CheckReport report_;
};

}  // namespace

int init_station_dir(const fs::path& dir, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  fs::create_directories(dir / kStarterProgramDir, ec);
  if (ec) {
    err << "shoplink init: cannot make " << (dir / kStarterProgramDir).string() << ": "
        << ec.message() << '\n';
    return 1;
  }
  const std::pair<const char*, std::string> files[] = {
      {"DNCDATA", starter_dncdata()},
      {"HOSTMAP", kStarterHostmap},
      {kStarterProgram, kStarterProgramText},
  };
  int status = 0;
  for (const auto& [name, text] : files) {
    const fs::path path = dir / name;
    // The operator's own DNCDATA.8 wins over a DNCDATA: writing one beside it would mislead.
    const bool numbered = std::string(name) == "DNCDATA" && fs::exists(dir / "DNCDATA.8", ec);
    if (fs::exists(path, ec) || numbered) {
      out << "kept " << (numbered ? dir / "DNCDATA.8" : path).string() << " (already there)\n";
      continue;
    }
    std::ofstream f(path, std::ios::binary);
    f << text;
    f.close();
    if (!f) {
      err << "shoplink init: cannot write " << path.string() << '\n';
      status = 1;
      continue;
    }
    out << "wrote " << path.string() << '\n';
  }
  return status;
}

CheckReport check_station(const fs::path& station_dir, const std::vector<std::string>& maps) {
  std::error_code ec;
  const fs::path abs = fs::absolute(station_dir, ec);
  Checker checker(ec ? station_dir : abs, maps);
  return checker.run();
}

int print_check(const CheckReport& report, std::ostream& out) {
  for (const auto& l : report.lines) out << l << '\n';
  if (report.problems.empty()) {
    out << "No problems found.\n";
    return 0;
  }
  out << report.problems.size() << (report.problems.size() == 1 ? " problem:\n" : " problems:\n");
  for (const auto& p : report.problems) out << "  - " << p << '\n';
  return 1;
}

}  // namespace shoplink
