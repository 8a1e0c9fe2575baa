#include "support/soak_shop.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "machine_codes.hpp"
#include "support/line_station.hpp"

namespace shoplink::testing {

namespace fs = std::filesystem;

namespace {

enum class Kind { Request, NotFound, Listing, Upload, Event, Queue };

const char* kind_name(Kind k) {
  switch (k) {
    case Kind::Request:
      return "request";
    case Kind::NotFound:
      return "not-found request";
    case Kind::Listing:
      return "listing";
    case Kind::Upload:
      return "upload";
    case Kind::Event:
      return "event";
    case Kind::Queue:
      return "queue file";
  }
  return "?";
}

struct PortKind {
  sim::MachineCode code;
  const char* code_line;
  bool xoff_buffer;  // a small input buffer: the control Xoffs during every longer program
};
const PortKind kPorts[9] = {
    {sim::MachineCode::IsoEven, "0", false}, {sim::MachineCode::IsoEven, "0", false},
    {sim::MachineCode::IsoEven, "0", true},  {sim::MachineCode::IsoOdd, "1", false},
    {sim::MachineCode::IsoOdd, "1", true},   {sim::MachineCode::IsoNone, "2", false},
    {sim::MachineCode::IsoNone, "2", true},  {sim::MachineCode::Eia, "3", false},
    {sim::MachineCode::Eia, "3", true}};

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::string line;
  auto flush = [&] {
    const bool blank =
        std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == 0; });
    if (!blank) out.push_back(line);
    line.clear();
  };
  for (char c : text) {
    if (c == '\n') {
      flush();
    } else if (c != '\r') {
      line.push_back(c);
    }
  }
  flush();
  return out;
}

long rss_kb() {
  std::ifstream in("/proc/self/statm");
  long size = 0, resident = 0;
  in >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int open_fds() {
  std::error_code ec;
  int n = 0;
  for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

std::string join_crlf(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

}  // namespace

struct SoakShop::Machine {
  int port = 0;
  sim::Machine* sim = nullptr;
  Kind kind = Kind::Request;
  bool busy = false;
  std::string name;
  std::vector<std::string> expected;  // program lines the machine must receive
  std::string upload_text;
  std::int64_t next_at_ms = 0, started_ms = 0, last_change_ms = 0;
  std::size_t mark = 0, last_size = 0;
  bool xon_sent = false, upload_started = false, seen_settling = false;
  int uploads_before = 0, xoffs_before = 0, events = 0;
  std::map<std::string, std::string> stored;  // upload file -> its content
};

double SoakFigures::rss_growth_kb_per_hour() const {
  // From the first sample at or after one hour (or a sixth of the run, when shorter).
  const double from = std::min(1.0, hours / 6);
  const SoakSample* first = nullptr;
  for (const auto& s : samples)
    if (s.hour >= from - 1e-9) {
      first = &s;
      break;
    }
  if (!first || samples.back().hour <= first->hour) return 0;
  return double(samples.back().rss_kb - first->rss_kb) / (samples.back().hour - first->hour);
}

long SoakFigures::peak_rss_kb() const {
  long peak = 0;
  for (const auto& s : samples) peak = std::max(peak, s.rss_kb);
  return peak;
}

bool SoakFigures::fds_flat() const {
  const double from = std::min(1.0, hours / 6);
  int base = -1;
  for (const auto& s : samples) {
    if (s.hour < from - 1e-9) continue;
    if (base < 0) base = s.fds;
    if (s.fds != base) return false;
  }
  return true;
}

SoakShop::SoakShop(std::uint32_t seed, int hold_ms) : rng_(seed) {
  std::vector<std::string> blocks;
  for (int k = 1; k <= 8; ++k)
    blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n" + kPorts[k].code_line + "\nUP" +
                     std::to_string(k) + "\nNC" + std::to_string(k) + "\n");
  // The controller honours RTS, as the station's switch and upload flow control expect.
  sim::ShopOptions shop;
  shop.controller.honour_host_rts = true;
  f_ = std::make_unique<StationFixture>(make_dncdata("COM1:9600", "", "SYSTEM.LOG,20000", blocks),
                                        shop);
  if (hold_ms > 0) f_->write_file("Scanrate", "100\r\n" + std::to_string(hold_ms) + "\r\n");
  for (int k = 1; k <= 8; ++k) {
    auto m = std::make_unique<Machine>();
    m->port = k;
    m->sim = &f_->shop.machine(k);
    sim::MachineConfig c = m->sim->config();
    c.code = kPorts[k].code;
    if (kPorts[k].xoff_buffer) {
      c.xoff_at = 96;
      c.xon_at = 24;
      c.consume_cps = 240;
    }
    m->sim->configure(c);
    f_->write_file("UP" + std::to_string(k) + "/keep", "");
    for (int p = 1; p <= 6; ++p)
      f_->write_file("NC" + std::to_string(k) + "/O" + std::to_string(k * 100 + p),
                     join_crlf(split_lines(program_text(10 + 40 * p))));
    m->next_at_ms = 5000 + 3000 * k;
    machines_.push_back(std::move(m));
  }
}

SoakShop::~SoakShop() = default;

std::int64_t SoakShop::now_ms() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(f_->loop.now() - f_->shop.start())
      .count();
}

void SoakShop::fail(const std::string& why) {
  if (fig_.failures.size() >= 50) return;
  std::string what = "at " + std::to_string(now_ms() / 1000) + " s: " + why;
  if (fig_.failures.empty()) {
    // The first failure with what led to it.
    const Station& s = *f_->station;
    what += "\n  station: mode " + std::to_string(s.mode) + ", port " + std::to_string(s.port) +
            ", stopscanning " + std::to_string(s.stopscanning) + "; the log ends:";
    for (const auto& m : machines_)
      what += "\n  machine " + std::to_string(m->port) + ": " +
              (m->busy ? kind_name(m->kind) : "idle") + " " + m->name + " since " +
              std::to_string(m->started_ms / 1000) + " s" +
              (m->upload_started ? ", uploading" : "") + (m->sim->sending() ? ", sending" : "") +
              (m->sim->output_held() ? ", held" : "") + ", controller holds " +
              std::to_string(f_->shop.controller().buffered(m->port)) + " bytes";
    what += "\n  controller selects port " + std::to_string(f_->shop.controller().selected_port());
    what += "\n  Timer10 " + std::to_string(s.Timer10.enabled()) + " Timer4 " +
            std::to_string(s.Timer4.enabled()) + " Timer13 " + std::to_string(s.Timer13.enabled()) +
            " receiving " + std::to_string(s.receiving) + " sending " + std::to_string(s.sending);
    const auto log = f_->log_lines();
    if (const char* dump = std::getenv("SOAK_LOG_DUMP")) {
      std::ofstream out(dump);
      for (const auto& l : log) out << l << "\n";
      for (const auto& e : f_->shop.controller().transcript())
        out << std::chrono::duration_cast<std::chrono::milliseconds>(e.at - f_->shop.start())
                   .count()
            << (e.to_host ? " <- " : " -> ") << e.port << " " << int(e.byte) << "\n";
    }
    for (std::size_t i = log.size() > 25 ? log.size() - 25 : 0; i < log.size(); ++i)
      what += "\n    " + log[i];
  }
  fig_.failures.push_back(what);
}

bool SoakShop::scanning() const {
  const Station& s = *f_->station;
  return s.mode == Mode::Scanning && s.stopscanning == 0 && s.Timer2.enabled();
}

// Text an ISO or EIA control can punch: capitals, digits, blanks, point and minus.
std::string SoakShop::program_text(int lines) {
  std::ostringstream out;
  out << "O" << (1000 + rng_() % 9000) << "\n";
  std::uniform_int_distribution<int> coord(-9999, 9999);
  const char* words[] = {"G00", "G01", "G02", "G03", "G81"};
  for (int n = 1; n <= lines; ++n) {
    out << "N" << n * 10 << " " << words[rng_() % 5] << " X" << coord(rng_) / 1000.0 << " Y"
        << coord(rng_) / 1000.0;
    if (rng_() % 3 == 0) out << " Z-" << (rng_() % 50) / 10.0 << " F" << 100 + rng_() % 400 << ".";
    out << "\n";
  }
  out << "M30\n";
  return out.str();
}

void SoakShop::start_activity(Machine& m) {
  const int k = m.port;
  const std::string ks = std::to_string(k);
  const unsigned roll = rng_() % 100;
  m.busy = true;
  m.xon_sent = m.upload_started = m.seen_settling = false;
  m.started_ms = m.last_change_ms = now_ms();
  // A machine between programs drops what it received before (its memory stays flat).
  if (m.sim->forget_received()) m.mark = 0;
  m.mark = m.last_size = m.sim->received_bytes().size();
  m.xoffs_before = m.sim->xoffs_sent();
  if (roll < 35) {
    m.kind = Kind::Request;
    m.name = "O" + std::to_string(k * 100 + 1 + int(rng_() % 6));
    m.expected = split_lines(f_->read_file("NC" + ks + "/" + m.name));
    m.sim->send_command("T" + m.name);
  } else if (roll < 45) {
    m.kind = Kind::NotFound;
    m.name = "O" + std::to_string(k * 100 + 90 + int(rng_() % 10));
    m.expected = {"(FILE " + m.name + " NOT FOUND)"};
    m.sim->send_command("T" + m.name);
  } else if (roll < 52) {
    m.kind = Kind::Listing;
    m.sim->send_command("P");
  } else if (roll < 72) {
    m.kind = Kind::Upload;
    m.name = "O" + std::to_string(k * 100 + 50 + int(rng_() % 10));
    m.upload_text = program_text(5 + int(rng_() % 120));
    m.uploads_before = m.sim->uploads_done();
    m.sim->send_command("R" + m.name);
  } else if (roll < 93) {
    m.kind = Kind::Event;
    const unsigned e = rng_() % 3;
    m.name = e == 0 ? "S" : e == 1 ? "F" : "D" + std::to_string(rng_() % 100) + ".5";
    m.sim->send_command(m.name);
  } else {
    m.kind = Kind::Queue;
    m.name = "O" + std::to_string(k * 100 + 1 + int(rng_() % 6));
    m.expected = split_lines(f_->read_file("NC" + ks + "/" + m.name));
    f_->write_file("SHOPLINK Queue command " + ks, m.name + "\r\n");
  }
}

void SoakShop::finish(Machine& m, bool ok, const std::string& why) {
  if (!ok)
    fail("port " + std::to_string(m.port) + " " + kind_name(m.kind) + " " + m.name + ": " + why);
  m.busy = false;
  m.next_at_ms = now_ms() + 20000 + int(rng_() % 220000);
}

void SoakShop::check_done(Machine& m) {
  const Station& s = *f_->station;
  const std::int64_t now = now_ms();
  const std::string ks = std::to_string(m.port);
  if (now - m.started_ms > 15 * 60 * 1000) {
    finish(m, false, "not done within 15 minutes");
    return;
  }
  const std::size_t size = m.sim->received_bytes().size();
  if (size != m.last_size) {
    m.last_size = size;
    m.last_change_ms = now;
  }
  const bool here = s.port == m.port;
  switch (m.kind) {
    case Kind::Request:
    case Kind::NotFound:
    case Kind::Listing:
    case Kind::Queue: {
      // The operator presses cycle start once the station waits for it.
      if (!m.xon_sent && here && s.mode == Mode::Sending) {
        m.sim->send_xon();
        m.xon_sent = true;
      }
      if (size == m.mark || now - m.last_change_ms < 4000 || !scanning()) return;
      std::string bytes;
      for (unsigned char b : m.sim->received_bytes().substr(m.mark)) {
        const int a = b & 0x7F;
        if (m.sim->config().code != sim::MachineCode::Eia && (a == 17 || a == 19 || a == 6))
          continue;
        bytes.push_back(static_cast<char>(b));
      }
      const sim::Decoded d = sim::decode_bytes(m.sim->config().code, bytes);
      std::vector<std::string> got = split_lines(d.text);
      // The station's closing mark: blank feed, then "%".
      for (std::size_t i = 0; i < got.size(); ++i) {
        const std::string& l = got[i];
        const auto feed = l.find_first_not_of(std::string(" \0", 2));
        if (feed >= 2 && feed != std::string::npos && l.substr(feed) == "%") {
          got.resize(i);
          break;
        }
      }
      if (m.kind == Kind::Listing)
        m.expected = split_lines(f_->read_file("NC" + ks + "/CONTENTS.DNC"));
      fig_.xoffs += m.sim->xoffs_sent() - m.xoffs_before;
      if (d.parity_errors != 0 || got != m.expected) {
        std::string first_diff;
        for (std::size_t i = 0; i < std::max(got.size(), m.expected.size()); ++i) {
          const std::string g = i < got.size() ? got[i] : "<none>";
          const std::string e = i < m.expected.size() ? m.expected[i] : "<none>";
          if (g != e) {
            first_diff = "line " + std::to_string(i + 1) + ": got <" + g + "> expected <" + e + ">";
            break;
          }
        }
        finish(m, false,
               "received " + std::to_string(got.size()) + " lines, expected " +
                   std::to_string(m.expected.size()) + ", parity errors " +
                   std::to_string(d.parity_errors) + "; " + first_diff);
        return;
      }
      (m.kind == Kind::Request    ? fig_.requests
       : m.kind == Kind::NotFound ? fig_.not_found
       : m.kind == Kind::Listing  ? fig_.listings
                                  : fig_.queued)++;
      finish(m, true, "");
      return;
    }
    case Kind::Upload: {
      if (!m.upload_started && here && s.mode == Mode::Receiving) {
        sim::UploadOptions o;
        const unsigned style = rng_() % 4;
        if (style == 1) o.dc2_first = true;
        if (style == 2) {
          o.burst_lines = 8;
          o.burst_pause = millis(1500);
        }
        if (m.sim->config().code == sim::MachineCode::Eia) o.leader_nuls = o.trailer_nuls = 20;
        m.sim->upload(m.upload_text, o);
        m.upload_started = true;
      }
      if (!m.upload_started || m.sim->uploads_done() == m.uploads_before || !scanning() ||
          s.receiving != 0)
        return;
      const std::string file = "UP" + ks + "/" + m.name;
      const std::string want = join_crlf(split_lines(m.upload_text));
      const std::string got = f_->read_file(file);
      if (got != want) {
        finish(m, false,
               "stored " + std::to_string(got.size()) + " bytes, expected " +
                   std::to_string(want.size()));
        return;
      }
      m.stored[file] = want;
      ++fig_.uploads;
      finish(m, true, "");
      return;
    }
    case Kind::Event: {
      if (here && s.mode == Mode::Settling) m.seen_settling = true;
      if (!m.seen_settling || !scanning()) return;
      ++m.events;
      const auto lines = split_lines(f_->read_file("UP" + ks + "/ACTIVITY.0" + ks));
      if (static_cast<int>(lines.size()) != m.events) {
        finish(m, false,
               "the activity file holds " + std::to_string(lines.size()) + " records, expected " +
                   std::to_string(m.events));
        return;
      }
      const std::string want = m.name[0] == 'S'   ? "Beginning of cycle"
                               : m.name[0] == 'F' ? "Finish of cycle"
                                                  : "Probed dimension " + m.name.substr(1);
      if (lines.back().rfind(want, 0) != 0) {
        finish(m, false, "last record <" + lines.back() + ">");
        return;
      }
      ++fig_.events;
      finish(m, true, "");
      return;
    }
  }
}

void SoakShop::sample() {
  fig_.samples.push_back({double(now_ms()) / 3600000.0, rss_kb(), open_fds()});
  // The test recorders keep every status line; a day of them is not the station's memory.
  f_->window.statuses.clear();
  f_->window.terminal_texts.clear();
  f_->dialogs.boxes.clear();
}

void SoakShop::tick() {
  const std::int64_t now = now_ms();
  std::error_code ec;
  const auto log_size = fs::file_size(f_->paths.host_path(f_->s().config.log_path), ec);
  if (!ec) fig_.log_max = std::max<long>(fig_.log_max, static_cast<long>(log_size));
  if (scanning()) {
    away_since_ms_ = -1;
  } else if (away_since_ms_ < 0) {
    away_since_ms_ = now;
  } else {
    fig_.longest_away_ms = std::max(fig_.longest_away_ms, now - away_since_ms_);
  }
  if (const char* from = std::getenv("SOAK_TRACE_FROM"))
    if (now / 1000 == std::atol(from)) f_->shop.controller().set_recording(true);
  for (auto& m : machines_) {
    if (m->busy) {
      check_done(*m);
    } else if (!stopping_ && now >= m->next_at_ms) {
      start_activity(*m);
    }
  }
  // Sampled while scanning: an upload in progress holds its file open, by design.
  if (now >= next_sample_ms_ && scanning() && f_->s().Openfile == 0) {
    sample();
    next_sample_ms_ += 10 * 60 * 1000;
  }
}

SoakFigures SoakShop::run(double hours, bool progress) {
  f_->start();
  fig_.log_limit = f_->s().config.log_limit;
  f_->shop.controller().set_recording(false);
  next_sample_ms_ = now_ms();
  const auto id = f_->loop.add_timer("soak", millis(100), [this] { tick(); });
  f_->loop.start(id);
  const auto end_ms = static_cast<std::int64_t>(hours * 3600000.0);
  std::int64_t hour = 1;
  while (now_ms() < end_ms) {
    const std::int64_t step = std::min<std::int64_t>(hour * 3600000, end_ms) - now_ms();
    f_->advance_ms(step);
    if (progress && now_ms() >= hour * 3600000) {
      const SoakSample& s = fig_.samples.back();
      std::printf("hour %3lld: %ld programs, %ld uploads, %ld events checked; RSS %ld kB, %d fds\n",
                  static_cast<long long>(hour), fig_.programs_checked(), fig_.uploads, fig_.events,
                  s.rss_kb, s.fds);
      std::fflush(stdout);
    }
    ++hour;
  }
  // Let what is under way finish.
  stopping_ = true;
  f_->run_until(
      [&] {
        return std::none_of(machines_.begin(), machines_.end(), [](auto& m) { return m->busy; });
      },
      20 * 60 * 1000);
  for (auto& m : machines_)
    if (m->busy)
      fail("port " + std::to_string(m->port) + " " + kind_name(m->kind) + " never ended");
  f_->loop.stop(id);
  fig_.hours = double(now_ms()) / 3600000.0;
  sample();
  if (!scanning()) fail("the station is not scanning at the end");
  if (fig_.log_max > fig_.log_limit)
    fail("the log reached " + std::to_string(fig_.log_max) + " bytes");
  // Nothing stored earlier was lost or cut short by anything that came after.
  for (auto& m : machines_)
    for (const auto& [file, content] : m->stored)
      if (f_->read_file(file) != content) fail(file + " changed after it was stored");
  return fig_;
}

}  // namespace shoplink::testing
