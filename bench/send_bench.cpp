// Transmission cost. On virtual time against the simulated controller: how close the station
// keeps the host line to its full rate (time on the line against 10 bits a character). With
// a line that takes everything at once: the station's own CPU time per character, and the
// memory it holds while it streams a large program.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "base/host_paths.hpp"
#include "base/virtual_loop.hpp"
#include "null_services.hpp"
#include "shop.hpp"
#include "station/wired_station.hpp"
#include "transmit/code_tables.hpp"
#include "transmit/send_file.hpp"
#include "ui/window_state.hpp"

namespace fs = std::filesystem;
using namespace shoplink;

namespace {

struct BenchDir {
  fs::path dir;
  BenchDir() {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("shoplink-bench-" + std::to_string(rd()));
    fs::create_directories(dir);
  }
  ~BenchDir() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

// A plain ASCII program of about `bytes` characters, written line by line.
void write_program(const fs::path& path, std::size_t bytes) {
  std::ofstream out(path, std::ios::binary);
  std::size_t n = 0;
  for (long line = 10; n < bytes; line += 10) {
    const std::string text = "N" + std::to_string(line) + " G01 X12.345 Y-6.789 F200.\r\n";
    out << text;
    n += text.size();
  }
}

// Port 1 selected, its machine ready: what the station has once the Xon has arrived.
void ready_to_send(Station& s, const std::string& file) {
  build_code_tables(s.codes);
  s.port = 1;
  s.ports[1].code_line = "2";
  s.ports[1].code_type = 2;
  s.ports[1].eob = "\r\n";
  s.config.response_timeout_ms = 20000;
  s.Filename = file;
  s.filetype = 1;
  s.mode = Mode::Sending;
  s.sending = 1;
  s.xoff = 0;
  s.Timer3.set_interval(20000);
}

// Time on the simulated line against the line's minimum for every character sent.
void BM_SendEfficiencySimulatedLine(benchmark::State& state) {
  const long baud = state.range(0);
  BenchDir dir;
  write_program(dir.dir / "O1", 1 << 20);
  for (auto _ : state) {
    VirtualClock clock;
    VirtualLoop loop(clock);
    sim::ShopOptions opts;
    opts.controller.default_port_baud = baud;
    opts.controller.initial_port = 1;
    opts.machines[1].baud = static_cast<int>(baud);
    opts.machines[1].code = sim::MachineCode::IsoNone;
    sim::Shop shop(loop, opts);
    HostPaths paths(dir.dir);
    bench::NullWindow window;
    bench::NullDialogs dialogs;
    bench::NullPlatform platform;
    WiredStation s({loop, shop.line(), window, dialogs, platform, paths});
    shop.line().set_settings(std::to_string(baud) + ",N,8,1");
    shop.line().open();
    ready_to_send(s, s.station_file("O1"));
    s.Timer13.start();  // the poll keeps ticking during a transfer, as in service
    sendfile(s);
    const auto& tr = shop.controller().transcript();
    TimePoint first = TimePoint::max(), last{};
    long bytes = 0;
    for (const auto& e : tr) {
      if (e.to_host) continue;
      first = std::min(first, e.at);
      last = std::max(last, e.at);
      ++bytes;
    }
    // Each transcript time is a byte's arrival: the first one had already taken its ten bits.
    const double on_line = std::chrono::duration<double>(last - first).count() + 10.0 / baud;
    const double minimum = bytes * 10.0 / static_cast<double>(baud);
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["line_seconds"] = on_line;
    state.counters["efficiency"] = minimum / on_line;
    state.counters["machine_bytes"] = static_cast<double>(shop.machine(1).received_bytes().size());
  }
}
BENCHMARK(BM_SendEfficiencySimulatedLine)
    ->Arg(9600)
    ->Arg(115200)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A line that takes every character at once and reports none unsent.
class SinkLine final : public SerialPort {
 public:
  bool is_open() const override { return open_; }
  bool cts() override { return true; }
  int in_buffer_count() override { return 0; }
  void clear_in_buffer() override {}
  int out_buffer_count() override { return 0; }
  void clear_out_buffer() override {}
  std::string read() override { return {}; }
  void write(std::string_view bytes) override { written += bytes.size(); }
  long written = 0;

 protected:
  bool do_open() override { return open_ = true; }
  void do_close() override { open_ = false; }

 private:
  bool open_ = false;
};

long max_rss_kb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// The station's own cost per character, and its memory while it streams a program of
// state.range(0) megabytes (peak resident size of the whole process, in MB: run it alone,
// --benchmark_filter=BM_SendStreamingLargeProgram/100, for the figure of that size).
void BM_SendStreamingLargeProgram(benchmark::State& state) {
  const std::size_t mb = static_cast<std::size_t>(state.range(0));
  BenchDir dir;
  write_program(dir.dir / "BIG", mb << 20);
  long written = 0;
  for (auto _ : state) {
    VirtualClock clock;
    VirtualLoop loop(clock);
    SinkLine line;
    HostPaths paths(dir.dir);
    bench::NullWindow window;
    bench::NullDialogs dialogs;
    bench::NullPlatform platform;
    WiredStation s({loop, line, window, dialogs, platform, paths});
    line.open();
    ready_to_send(s, s.station_file("BIG"));
    s.Timer13.start();  // the poll keeps ticking during a transfer, as in service
    sendfile(s);
    written = line.written;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * written);
  state.counters["peak_rss_mb"] = static_cast<double>(max_rss_kb()) / 1024.0;
  state.counters["ns_per_char"] =
      benchmark::Counter(static_cast<double>(written) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SendStreamingLargeProgram)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendStreamingLargeProgram)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
