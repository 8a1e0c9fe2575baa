#pragma once
// Eight busy machines against the whole station on virtual time, for hours: requests,
// uploads, listings, activity events, not-found names, Xoff pauses and now and then a queue
// file. Every program a machine receives and every file it uploads is checked byte for byte
// as it ends; the log's size, the process's memory and open descriptors and the station's
// return to scanning are watched all along.
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/station_fixture.hpp"

namespace shoplink::testing {

struct SoakSample {
  double hour = 0;
  long rss_kb = 0;
  int fds = 0;
};

struct SoakFigures {
  double hours = 0;
  long requests = 0, not_found = 0, listings = 0, queued = 0;  // programs received and checked
  long uploads = 0, events = 0;
  long xoffs = 0;                    // Xoffs the machines sent while receiving
  long log_max = 0, log_limit = 0;   // the log's largest size seen, and its limit
  std::int64_t longest_away_ms = 0;  // longest stretch out of scanning
  std::vector<SoakSample> samples;   // every ten virtual minutes
  std::vector<std::string> failures;
  long programs_checked() const { return requests + not_found + listings + queued; }
  // Growth of the resident set per virtual hour after the first hour (kB/h), the peak, and
  // whether the descriptor count stayed where it was at the end of the first hour.
  double rss_growth_kb_per_hour() const;
  long peak_rss_kb() const;
  bool fds_flat() const;
};

class SoakShop {
 public:
  // hold_ms > 0: the scan holds each machine (Xoff) that long before it leaves its port,
  // as the second line of the scan rate file asks.
  explicit SoakShop(std::uint32_t seed = 1, int hold_ms = 0);
  ~SoakShop();
  // Runs `hours` of virtual time (then lets the last activities finish) and returns the
  // figures; `progress` prints a line per virtual hour.
  SoakFigures run(double hours, bool progress = false);
  // The station, for listeners added before run() starts it.
  StationFixture& fixture() { return *f_; }

 private:
  struct Machine;
  void tick();
  void start_activity(Machine& m);
  void check_done(Machine& m);
  void finish(Machine& m, bool ok, const std::string& why);
  void sample();
  bool scanning() const;
  std::string program_text(int lines);
  std::int64_t now_ms() const;
  void fail(const std::string& why);

  std::unique_ptr<StationFixture> f_;
  std::mt19937 rng_;
  std::vector<std::unique_ptr<Machine>> machines_;
  SoakFigures fig_;
  std::int64_t away_since_ms_ = -1;
  bool stopping_ = false;
  std::int64_t next_sample_ms_ = 0;
  int serial_ = 0;
};

}  // namespace shoplink::testing
