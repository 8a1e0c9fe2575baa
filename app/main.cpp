// shoplink: the DNC communications station as a headless service.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>

#include "base/clock.hpp"
#include "base/host_line.hpp"
#include "base/host_paths.hpp"
#include "base/real_loop.hpp"
#include "base/short_slice.hpp"
#include "core/station_snapshot.hpp"
#include "journal/journal.hpp"
#include "journal_commands.hpp"
#include "log/system_log.hpp"
#include "plant/plant_wiring.hpp"
#include "station/commissioning.hpp"
#include "station/startup.hpp"
#include "station/wired_station.hpp"
#include "ui/headless.hpp"
#include "web/status_server.hpp"

namespace fs = std::filesystem;
using namespace shoplink;

namespace {

int run_station(const std::string& station_dir, const std::vector<std::string>& maps, bool verbose,
                const std::string& mqtt) {
  std::error_code ec;
  if (!fs::is_directory(station_dir, ec)) {
    std::cerr << "shoplink: station directory " << station_dir << " does not exist\n";
    return 2;
  }
  HostPaths paths(fs::absolute(station_dir));
  for (const auto& bad : paths.load_hostmap_file())
    std::cerr << "shoplink: HOSTMAP: cannot read the line \"" << bad << "\"\n";
  for (const auto& m : maps) {
    if (!paths.map_assignment(m)) {
      std::cerr << "shoplink: --map " << m << ": expected NAME=VALUE\n";
      return 2;
    }
  }
  if (!mqtt.empty()) paths.map("MQTT", mqtt);
  // The station directory is the program's folder and the current directory.
  if (::chdir(paths.station_dir().c_str()) != 0) {
    std::cerr << "shoplink: cannot enter " << paths.station_dir_text() << '\n';
    return 2;
  }

  // Before any thread starts: they inherit it.
  request_short_time_slice();
  RealClock clock;
  RealLoop loop(clock);
  HostLine line(loop, [&paths](const std::string& digit) { return paths.com_device(digit); });
  line.set_pacing_allowed(paths.pacing_allowed());
  // journald stamps each line itself.
  const bool stamps = std::getenv("JOURNAL_STREAM") == nullptr;
  HeadlessWindow window(clock, std::cout, std::cerr, verbose, stamps);
  HeadlessDialogs dialogs(std::cerr);
  PosixPlatform platform;
  WiredStation station({loop, line, window, dialogs, platform, paths});
  station.exit_on_scan_failure = true;
  std::vector<std::string> journal_problems;
  Journal journal(station, journal_settings(paths, &journal_problems));
  for (const auto& p : journal_problems) std::cerr << "shoplink: HOSTMAP: " << p << '\n';
  // What the station looks like from outside, for the status page and the plant publisher.
  SnapshotPublisher snapshots(station);
  station.events.add(&snapshots);
  std::vector<std::string> web_problems;
  const std::optional<WebSettings> web = web_settings(paths, &web_problems);
  for (const auto& p : web_problems) std::cerr << "shoplink: HOSTMAP: " << p << '\n';
  std::optional<StatusServer> status_page;
  std::vector<std::string> plant_problems;
  const auto plant = make_plant_publisher(station, loop, &journal, &snapshots, &plant_problems);
  for (const auto& p : plant_problems)
    std::cerr << "shoplink: HOSTMAP: " << p << " (nothing is published)\n";

  // The signal only asks: the stop itself runs once every handler has returned, so that
  // nothing is logged after it.
  auto stop = [&] { request_stop(station); };
  loop.on_signal(SIGINT, stop);
  loop.on_signal(SIGTERM, stop);
  std::signal(SIGPIPE, SIG_IGN);

  startup(station);
  if (station.exit_status) return *station.exit_status;  // no usable DNCDATA: nothing to stop
  if (web) {
    status_page.emplace(snapshots,
                        StatusServerOptions{*web, paths.station_dir(), {}, {}, kMaxLiveStreams});
    // A port another program holds costs the page, never the station.
    if (status_page->start()) {
      log_text(station, "Status page on " + status_page->url());
      std::cout << "shoplink: status page on " << status_page->url() << std::endl;
    } else {
      log_text(station, "Status page " + status_page->error());
      std::cerr << "shoplink: status page " << status_page->error() << std::endl;
    }
  }
  loop.run();
  shutdown(station);
  if (station.stop_requested) return 0;
  // The message box names the COM port; the journal also gets why its device would not open.
  if (station.exit_status && !line.open_error().empty())
    std::cerr << "shoplink: host line: " << line.open_error() << '\n';
  return station.exit_status.value_or(0);
}

// `check`, and what it says of the status page's settings.
int check_command(const std::string& station_dir, const std::vector<std::string>& maps) {
  CheckReport report = check_station(station_dir, maps);
  std::error_code ec;
  HostPaths paths(fs::absolute(station_dir, ec));
  paths.load_hostmap_file();
  for (const auto& m : maps) paths.map_assignment(m);
  std::vector<std::string> problems;
  report.lines.push_back(describe(web_settings(paths, &problems)));
  for (auto& p : problems) report.problems.push_back("HOSTMAP: " + p);
  return print_check(report, std::cout);
}

}  // namespace

// `shoplink gui ...` is the desktop station, a program of its own beside this one, so that the
// headless service never needs Qt.
int run_gui(int argc, char** argv) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path dir = (ec ? fs::path(argv[0]) : self).parent_path();
  // Installed beside this program; in the build tree one folder down.
  fs::path gui = dir / "shoplink-gui";
  if (!fs::exists(gui, ec)) gui = dir / "gui" / "shoplink-gui";
  std::vector<char*> args{const_cast<char*>(gui.c_str())};
  for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  ::execv(gui.c_str(), args.data());
  std::cerr << "shoplink: cannot start the desktop station " << gui.string() << ": "
            << std::strerror(errno) << " (is it installed?)\n";
  return 2;
}

int main(int argc, char** argv) {
  if (argc >= 2 && std::string_view(argv[1]) == "gui") return run_gui(argc, argv);
  CLI::App app{"ShopLink DNC communications station"};
  app.require_subcommand(1);
  std::string station_dir = ".";
  std::vector<std::string> maps;
  std::string web_address;
  bool verbose = false;
  auto* run = app.add_subcommand("run", "Run the station headless in its station directory");
  run->add_option("--station-dir", station_dir, "Station directory (default: current directory)");
  run->add_option("--map", maps, "Host map entry NAME=VALUE, e.g. COM1=/dev/ttyUSB0 or C:=/srv/nc")
      ->take_all();
  run->add_flag("--verbose", verbose, "Also show each port the scan visits");
  std::string mqtt;
  run->add_option("--mqtt", mqtt,
                  "Publish to this MQTT broker, mqtt://HOST:PORT or mqtts://HOST:PORT "
                  "(as MQTT= in HOSTMAP)");
  auto web_option = [&](CLI::App* cmd) {
    cmd->add_option("--web", web_address,
                    "Serve the status page on ADDR:PORT (as HOSTMAP WEB=ADDR:PORT; 127.0.0.1:8080 "
                    "for this machine only)");
  };
  web_option(run);

  // Listed for --help; `shoplink gui` itself is handled before parsing.
  app.add_subcommand("gui", "Run the station with its desktop window (options as for run)");
  auto* check = app.add_subcommand(
      "check",
      "Read the station directory as run would, show the reading and every problem "
      "(exit 0: none, 1: problems)");
  check->add_option("--station-dir", station_dir, "Station directory (default: current directory)");
  check->add_option("--map", maps, "Host map entry NAME=VALUE, as for run")->take_all();
  web_option(check);

  // The journal's commands: beside a running station, never holding it up.
  JournalCommand jc;
  auto common = [&](CLI::App* cmd) {
    cmd->add_option("--station-dir", jc.station_dir,
                    "Station directory (default: current directory)");
    cmd->add_option("--map", jc.maps, "Host map entry NAME=VALUE, as for run")->take_all();
  };
  auto program_option = [&](CLI::App* cmd, bool required) {
    cmd->add_option("PROGRAM", jc.program,
                    "A host path, or a program's name as a machine gives it (with --port)")
        ->required(required);
    cmd->add_option("--port", jc.port, "Read PROGRAM as the machine on port N names it")
        ->check(CLI::Range(1, 8));
  };
  auto* history = app.add_subcommand(
      "history", "List the revisions of PROGRAM, newest first; without PROGRAM the latest changes");
  common(history);
  program_option(history, false);
  auto* diff = app.add_subcommand(
      "diff",
      "Differences of PROGRAM: REV against the current file, REV against REV2, or by "
      "default the previous revision against the current file");
  common(diff);
  program_option(diff, true);
  diff->add_option("REV", jc.revisions, "Revision numbers (REV [REV2])")->expected(0, 2);
  auto* restore = app.add_subcommand(
      "restore", "Put revision REV of PROGRAM back as the current program (kept as a revision)");
  common(restore);
  program_option(restore, true);
  restore->add_option("REV", jc.revisions, "Revision number")->required()->expected(1);
  auto* transfers =
      app.add_subcommand("transfers", "The journal's transfers as a table, oldest first");
  common(transfers);
  transfers->add_option("--since", jc.since, "From this day (YYYY-MM-DD [HH:MM])");
  transfers->add_option("--port", jc.port, "Only this port")->check(CLI::Range(1, 8));
  transfers->add_flag("--csv", jc.csv, "Comma-separated values with a header line");

  std::string init_dir;
  auto* init = app.add_subcommand(
      "init", "Write a starter station directory (DNCDATA, HOSTMAP, PROGRAMS); never overwrites");
  init->add_option("DIR", init_dir, "Station directory to make or fill")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "shoplink: " << e.what() << " (see shoplink --help)\n";
    return 2;
  }
  if (!web_address.empty()) maps.push_back("WEB=" + web_address);
  if (*init) return init_station_dir(init_dir, std::cout, std::cerr);
  if (*check) return check_command(station_dir, maps);
  if (*history) return history_command(jc, std::cout, std::cerr);
  if (*diff) return diff_command(jc, std::cout, std::cerr);
  if (*restore) return restore_command(jc, std::cout, std::cerr);
  if (*transfers) return transfers_command(jc, std::cout, std::cerr);
  return run_station(station_dir, maps, verbose, mqtt);
}
