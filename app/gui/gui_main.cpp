// shoplink-gui: the station with its desktop window (started as `shoplink gui`).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>

#include "base/clock.hpp"
#include "base/host_line.hpp"
#include "base/host_paths.hpp"
#include "base/short_slice.hpp"
#include "core/station_snapshot.hpp"
#include "gui/history_dialog.hpp"
#include "gui/qt_dialogs.hpp"
#include "gui/qt_loop.hpp"
#include "gui/qt_platform.hpp"
#include "gui/qt_window.hpp"
#include "gui/window_commands.hpp"
#include "journal/journal.hpp"
#include "log/system_log.hpp"
#include "plant/plant_wiring.hpp"
#include "station/startup.hpp"
#include "station/wired_station.hpp"
#include "web/status_server.hpp"

namespace fs = std::filesystem;
using namespace shoplink;

int main(int argc, char** argv) {
  CLI::App cli{"ShopLink DNC communications station, desktop window"};
  std::string station_dir = ".";
  std::vector<std::string> maps;
  cli.add_option("--station-dir", station_dir, "Station directory (default: current directory)");
  cli.add_option("--map", maps, "Host map entry NAME=VALUE, e.g. COM1=/dev/ttyUSB0")->take_all();
  std::string mqtt;
  cli.add_option("--mqtt", mqtt,
                 "Publish to this MQTT broker, mqtt://HOST:PORT or mqtts://HOST:PORT "
                 "(as MQTT= in HOSTMAP)");
  std::string web_address;
  cli.add_option("--web", web_address,
                 "Serve the status page on ADDR:PORT (as HOSTMAP WEB=ADDR:PORT)");
  std::string screenshot;
  cli.add_option("--screenshot", screenshot,
                 "Save a PNG of the window to this file once a transfer has run for a second "
                 "(for the README and the smoke test)");
  bool print_status = false;
  cli.add_flag("--print-status", print_status,
               "Print each status line change on standard output (for the smoke test)");
  // Qt's own options (-platform, -display ...) pass through to QApplication.
  cli.allow_extras();
  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return cli.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "shoplink gui: " << e.what() << '\n';
    return 2;
  }
  if (!web_address.empty()) maps.push_back("WEB=" + web_address);
  std::error_code ec;
  if (!fs::is_directory(station_dir, ec)) {
    std::cerr << "shoplink gui: station directory " << station_dir << " does not exist\n";
    return 2;
  }
  HostPaths paths(fs::absolute(station_dir));
  for (const auto& bad : paths.load_hostmap_file())
    std::cerr << "shoplink gui: HOSTMAP: cannot read the line \"" << bad << "\"\n";
  for (const auto& m : maps) {
    if (!paths.map_assignment(m)) {
      std::cerr << "shoplink gui: --map " << m << ": expected NAME=VALUE\n";
      return 2;
    }
  }
  if (!mqtt.empty()) paths.map("MQTT", mqtt);
  if (::chdir(paths.station_dir().c_str()) != 0) {
    std::cerr << "shoplink gui: cannot enter " << paths.station_dir_text() << '\n';
    return 2;
  }

  // The station runs on Qt's thread; the threads Qt starts inherit it.
  request_short_time_slice();
  QApplication app(argc, argv);
  RealClock clock;
  QtLoop loop(clock);
  HostLine line(loop, [&paths](const std::string& digit) { return paths.com_device(digit); });
  line.set_pacing_allowed(paths.pacing_allowed());
  QtWindow window;
  QtDialogs dialogs(loop, &window);
  QtPlatform platform(loop, paths);
  WiredStation station({loop, line, window, dialogs, platform, paths});
  connect_window(window, station);
  PortTilesFeed tiles(window, station);
  std::vector<std::string> journal_problems;
  Journal journal(station, journal_settings(paths, &journal_problems));
  for (const auto& p : journal_problems) std::cerr << "shoplink gui: HOSTMAP: " << p << '\n';
  connect_history(window, station, journal);
  // What the station looks like from outside, for the status page and the plant publisher.
  SnapshotPublisher snapshots(station);
  station.events.add(&snapshots);
  std::vector<std::string> web_problems;
  const std::optional<WebSettings> web = web_settings(paths, &web_problems);
  for (const auto& p : web_problems) std::cerr << "shoplink gui: HOSTMAP: " << p << '\n';
  std::optional<StatusServer> status_page;
  std::vector<std::string> plant_problems;
  const auto plant = make_plant_publisher(station, loop, &journal, &snapshots, &plant_problems);
  for (const auto& p : plant_problems)
    std::cerr << "shoplink gui: HOSTMAP: " << p << " (nothing is published)\n";

  if (print_status)
    QObject::connect(window.status_field(), &QLineEdit::textChanged, [](const QString& text) {
      std::cout << "status: " << text.toLatin1().toStdString() << std::endl;
    });

  auto stop = [&] { request_stop(station); };
  loop.on_signal(SIGINT, stop);
  loop.on_signal(SIGTERM, stop);
  std::signal(SIGPIPE, SIG_IGN);

  // The screenshot: taken from inside the running station, one second into the first
  // transfer that shows its Stop button, so the data going out are on screen.
  QTimer shot_timer, pulse;
  int stop_seen = 0;
  // How long the window's own events waited during the transfer: a 10 ms pulse on Qt's
  // loop, its longest gap while the Stop button shows.
  QElapsedTimer since_pulse, transfer_clock;
  qint64 longest_gap = 0, whole_gap = 0;
  bool seen_sending = false, whole_reported = false;
  if (!screenshot.empty()) {
    QObject::connect(&pulse, &QTimer::timeout, &pulse, [&] {
      const bool sending = window.stop_button()->isVisible();
      if (since_pulse.isValid() && sending)
        longest_gap = std::max(longest_gap, since_pulse.elapsed());
      // The whole first transfer, however long: reported once when it ends.
      if (sending) {
        const qint64 gap = since_pulse.isValid() ? since_pulse.elapsed() : 0;
        whole_gap = std::max(whole_gap, gap);
        if (!seen_sending) transfer_clock.start();
        seen_sending = true;
        // Each long one with when it came, to tell the station's own work from the machine's.
        if (gap >= 50 && !whole_reported)
          std::cout << "window: pause of " << gap << " ms, " << transfer_clock.elapsed() / 1000
                    << " s into the transfer" << std::endl;
      } else if (seen_sending && !whole_reported) {
        whole_reported = true;
        std::cout << "window: longest pause of its events during the whole transfer " << whole_gap
                  << " ms" << std::endl;
      }
      since_pulse.restart();
    });
    pulse.start(10);
    QObject::connect(&shot_timer, &QTimer::timeout, &shot_timer, [&] {
      stop_seen = window.stop_button()->isVisible() ? stop_seen + 1 : 0;
      if (stop_seen < 5) return;
      shot_timer.stop();
      QElapsedTimer shot_time;
      shot_time.start();
      const QImage image = window.grab().toImage();
      QSet<QRgb> colours;
      for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) colours.insert(image.pixel(x, y));
      const bool saved = image.save(QString::fromStdString(screenshot), "PNG");
      std::cout << "window: longest pause of its events during the transfer " << longest_gap
                << " ms" << std::endl;
      std::cout << "screenshot: " << (saved ? "saved " : "NOT saved ") << screenshot << ", "
                << colours.size() << " colours, taken in " << shot_time.elapsed() << " ms"
                << std::endl;
      // Grabbing and encoding the picture is this harness's work, not the station's: the
      // pause it made is not the window's.
      since_pulse.restart();
    });
    shot_timer.start(200);
  }

  startup(station);
  if (station.exit_status) return *station.exit_status;
  if (web) {
    status_page.emplace(snapshots,
                        StatusServerOptions{*web, paths.station_dir(), {}, {}, kMaxLiveStreams});
    if (status_page->start()) {
      log_text(station, "Status page on " + status_page->url());
    } else {
      log_text(station, "Status page " + status_page->error());
      std::cerr << "shoplink gui: status page " << status_page->error() << std::endl;
    }
  }
  // The I/O displays start on (`showdata` 1): the menu item carries its check mark.
  window.set_menu_checked(Menu::view_show, station.showdata > 0);
  window.show();
  loop.run();
  shutdown(station);
  window.hide();
  if (station.stop_requested) return 0;
  return station.exit_status.value_or(0);
}
