#pragma once
// A whole station on virtual time against the simulated shop: a test reads as a story
// ("port 3 sends TO1234; the machine receives exactly these bytes; the log holds these lines").
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/host_paths.hpp"
#include "base/virtual_loop.hpp"
#include "core/station.hpp"
#include "shop.hpp"
#include "support/temp_dir.hpp"
#include "ui/recorder.hpp"

namespace shoplink::testing {

// An 8-port DNCDATA: host COM1:9600, log file SYSTEM.LOG, every port 9600 even parity
// (ISO, code type 0) with default directories, the machine names MILL1..MILL8.
std::string default_dncdata();
// A DNCDATA with the given station lines and port blocks (each block up to five lines,
// joined with CR LF); missing blocks stay empty.
std::string make_dncdata(const std::string& line1, const std::string& line2,
                         const std::string& line3, const std::vector<std::string>& blocks);

class StationFixture {
 public:
  // Writes `dncdata` (as DNCDATA) into a fresh station directory and builds the station;
  // nothing runs until start().
  explicit StationFixture(const std::string& dncdata = default_dncdata(),
                          sim::ShopOptions shop_options = {});
  ~StationFixture();

  // start-up, then run until the purge has handed over to scanning (or fail the test).
  void start();
  // start-up only (the scan runs 3000 ms later as virtual time advances).
  void startup_only();

  void advance_ms(std::int64_t ms) { loop.advance_ms(ms); }
  bool run_until(const std::function<bool()>& done, std::int64_t limit_ms) {
    return loop.run_until(done, millis(limit_ms));
  }

  // The system log's lines, and their message parts (the text before the padding/date).
  std::vector<std::string> log_lines() const;
  std::vector<std::string> log_messages() const;
  bool logged(const std::string& message) const;

  void write_file(const std::string& rel, std::string_view bytes) { dir.write(rel, bytes); }
  std::string read_file(const std::string& rel) const { return dir.read(rel); }

  TempDir dir;
  VirtualClock clock;
  VirtualLoop loop{clock};
  HostPaths paths;
  sim::Shop shop;
  RecordingWindow window;
  RecordingDialogs dialogs;
  RecordingPlatform platform;
  std::unique_ptr<Station> station;
  Station& s() { return *station; }
};

}  // namespace shoplink::testing
