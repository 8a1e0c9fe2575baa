// The paced host line in real time: the station's sendchar over a pseudo-terminal and over
// a loopback TCP device server, to a far end that passes characters on at the line's own
// rate (as a port controller or a device server's serial port does) and says Xoff part way.
// Counters: `after_xoff` (characters that still came after the Xoff), `efficiency` (the
// characters before the Xoff against the line's minimum time for them) and `cpu_share` (the
// station thread's CPU time over the wall time of the whole send, hold included).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/host_line.hpp"
#include "base/host_paths.hpp"
#include "base/real_loop.hpp"
#include "core/character_output.hpp"
#include "core/station_reports.hpp"
#include "journal/journal.hpp"
#include "null_services.hpp"
#include "station/wired_station.hpp"
#include "ui/window_state.hpp"

namespace fs = std::filesystem;
using namespace shoplink;
using SteadyClock = std::chrono::steady_clock;

namespace {

double thread_cpu_seconds() {
  rusage u{};
  ::getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// What a bare sleep and wake-up (a 3 ms ppoll) costs this thread in CPU, in microseconds:
// the floor under every wake-up of the paced line, and on a shared virtual machine most of
// it (there it is ten times what it is on a quiet PC).
double bare_wakeup_us() {
  const double cpu0 = thread_cpu_seconds();
  const timespec ts{0, 3'000'000};
  for (int i = 0; i < 200; ++i) ::ppoll(nullptr, 0, &ts, nullptr);
  return (thread_cpu_seconds() - cpu0) / 200 * 1e6;
}

// The far end: takes characters no faster than `cps`, Xoff after `xoff_at`, holds `hold`
// (still passing on what it has), then Xon and the rest.
struct FarEnd {
  std::size_t received = 0, after_xoff = 0;
  SteadyClock::time_point first{}, xoff_sent{};

  void run(int fd, double cps, std::size_t xoff_at, std::size_t total,
           std::chrono::milliseconds hold) {
    const auto end = SteadyClock::now() + std::chrono::seconds(60);
    bool held = false, released = false;
    SteadyClock::time_point release_at{};
    double budget = 1;  // characters the line could have carried so far
    auto last = SteadyClock::now();
    char buf[4096];
    while (received < total && SteadyClock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, 1);
      const auto now = SteadyClock::now();
      if (received > 0) budget += std::chrono::duration<double>(now - last).count() * cps;
      last = now;
      const auto want = static_cast<std::size_t>(std::min<double>(budget, sizeof buf));
      if (want == 0) continue;
      const ssize_t n = ::read(fd, buf, want);
      if (n > 0) {
        if (received == 0) first = now;
        received += static_cast<std::size_t>(n);
        budget -= static_cast<double>(n);
        if (held && !released) after_xoff += static_cast<std::size_t>(n);
      } else if (budget > 2) {
        budget = 2;  // an idle line banks nothing
      }
      if (!held && received >= xoff_at) {
        const char xoff = 0x13;
        [[maybe_unused]] auto w = ::write(fd, &xoff, 1);
        held = true;
        xoff_sent = SteadyClock::now();
        release_at = xoff_sent + hold;
      }
      if (held && !released && SteadyClock::now() >= release_at) {
        const char xon = 0x11;
        [[maybe_unused]] auto w = ::write(fd, &xon, 1);
        released = true;
      }
    }
  }
};

// The station on a paced 9600-baud line to the far end: over a pseudo-terminal, or over a
// loopback TCP device server (`tcp`).
struct Rig {
  Rig(bool tcp, long baud, bool pacing)
      : dir(fs::temp_directory_path() /
            ("shoplink-bench-" + std::to_string(std::random_device{}()))) {
    fs::create_directories(dir);
    std::string device;
    if (tcp) {
      listener = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
      ::listen(listener, 1);
      socklen_t len = sizeof a;
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
      device = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    } else {
      char name[128] = {};
      ::openpty(&far, &slave, name, nullptr, nullptr);
      termios t{};
      ::tcgetattr(slave, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(slave, TCSANOW, &t);
      ::fcntl(far, F_SETFL, ::fcntl(far, F_GETFL) | O_NONBLOCK);
      device = name;
    }
    paths.map("COM1", device);
    line.set_pacing_allowed(pacing);
    line.set_port_number("1");
    line.set_settings(std::to_string(baud) + ",N,8,1");
    if (!line.open()) return;
    if (tcp) {
      far = ::accept(listener, nullptr, nullptr);
      ::fcntl(far, F_SETFL, ::fcntl(far, F_GETFL) | O_NONBLOCK);
    }
    station.emplace(StationServices{loop, line, window, dialogs, platform, paths});
    ok = true;
  }
  // The journal on, as the station runs it: the send is a transfer it records at its end.
  void journal_on() { journal.emplace(*station, JournalSettings{}); }
  // And more than a shop can make it do (the station writes no row while it sends): an
  // activity event every 100 ms and every second a 20 kB program replaced, its history
  // written with a full sync, all on the station's thread during the send.
  void journal_busy() {
    std::string program;
    while (program.size() < 20000) program += "G1 X" + std::to_string(program.size()) + ". Y1.\r\n";
    std::ofstream(dir / "O1.NC", std::ios::binary) << program;
    busy(0);
  }
  void busy(int tick) {
    if (!station) return;
    station->port = static_cast<std::int16_t>(1 + tick % 8);
    report_activity(*station, ActivityKind::CycleStart, "");
    if (tick % 10 == 9) {
      ProgramChange c;
      c.program = dir / "O1.NC";
      c.incoming = dir / "~O1.NC.upload";
      c.previous = c.program;
      fs::copy_file(c.program, c.incoming, fs::copy_options::overwrite_existing);
      std::ofstream(c.incoming, std::ios::binary | std::ios::app) << "M30\r\n";
      station->events.program_replacing(c);
      fs::rename(c.incoming, c.program);
      station->events.program_replaced(c, true);
    }
    loop.post_after(millis(100), [this, tick] { busy(tick + 1); });
  }
  ~Rig() {
    journal.reset();
    station.reset();
    line.close();
    if (far >= 0) ::close(far);
    if (slave >= 0) ::close(slave);
    if (listener >= 0) ::close(listener);
    fs::remove_all(dir);
  }

  fs::path dir;
  int far = -1, listener = -1, slave = -1;
  RealClock clock;
  RealLoop loop{clock};
  HostPaths paths{dir};
  HostLine line{loop, [this](const std::string& d) { return paths.com_device(d); }};
  bench::NullWindow window;
  bench::NullDialogs dialogs;
  bench::NullPlatform platform;
  std::optional<WiredStation> station;
  std::optional<Journal> journal;
  bool ok = false;
};

// range(0): 0 pseudo-terminal, 1 loopback TCP device server; range(1): pacing on/off;
// range(2): 0 no journal, 1 the journal on, 2 the journal on and written to during the send.
void BM_PacedLineXoff(benchmark::State& state) {
  const bool tcp = state.range(0) == 1;
  const bool pacing = state.range(1) == 1;
  const auto journal = state.range(2);
  const long baud = 9600;
  const std::size_t xoff_at = 2000, total = 2600;
  // Long enough for an unpaced backlog to show in full.
  const auto hold = pacing ? std::chrono::milliseconds(300) : std::chrono::milliseconds(4000);
  std::string program;
  for (int i = 0; program.size() < total; ++i)
    program += "N" + std::to_string(i * 10) + " G01 X12.345 Y-6.789\r\n";
  program.resize(total);

  for (auto _ : state) {
    Rig rig(tcp, baud, pacing);
    if (!rig.ok) {
      state.SkipWithError("cannot open the line");
      break;
    }
    if (journal >= 1) rig.journal_on();
    if (journal == 2) rig.journal_busy();
    FarEnd end;
    std::thread peer([&] { end.run(rig.far, baud / 10.0, xoff_at, total, hold); });
    const double cpu0 = thread_cpu_seconds();
    const auto t0 = SteadyClock::now();
    if (journal >= 1) report_transfer_began(*rig.station, TransferKind::Request, "O1.NC");
    sendchar(*rig.station, program);
    rig.loop.wait_for([&] { return rig.line.out_buffer_count() == 0; },
                      std::chrono::milliseconds(1));
    if (journal >= 1) report_transfer_ended(*rig.station, TransferResult::Transmitted);
    peer.join();
    const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    const double cpu = thread_cpu_seconds() - cpu0;
    const double before = std::chrono::duration<double>(end.xoff_sent - end.first).count();
    state.counters["after_xoff"] = static_cast<double>(end.after_xoff);
    state.counters["efficiency"] = (static_cast<double>(xoff_at) - 1) * 10.0 / baud / before;
    state.counters["cpu_share"] = cpu / wall;
    state.counters["received"] = static_cast<double>(end.received);
  }
}
// CPU while paced: a long program (about 10 s at 9600 baud) sent line by line as the transfer
// does, to a far end that takes it at the line's rate and never holds it. `cpu_share` is the
// station thread's user and system time (getrusage) over the send's wall time;
// `wakeups_per_s` its voluntary context switches (each a sleep and a wake-up) a second,
// `cpu_us_per_wakeup` the CPU time per wake-up and `bare_wakeup_us` what a bare sleep and
// wake-up costs on this machine, to read the others against.
void BM_PacedLineCpu(benchmark::State& state) {
  const bool tcp = state.range(0) == 1;
  const long baud = 9600;
  std::vector<std::string> lines;
  std::size_t total = 0;
  for (int i = 0; total < 10'000; ++i) {
    lines.push_back("N" + std::to_string(i * 10) + " G01 X12.345 Y-6.789 F200.\r\n");
    total += lines.back().size();
  }
  for (auto _ : state) {
    Rig rig(tcp, baud, true);
    if (!rig.ok) {
      state.SkipWithError("cannot open the line");
      break;
    }
    FarEnd end;
    std::thread peer([&] { end.run(rig.far, baud / 10.0, total + 1, total, {}); });
    rusage u0{};
    ::getrusage(RUSAGE_THREAD, &u0);
    const double cpu0 = thread_cpu_seconds();
    const auto t0 = SteadyClock::now();
    for (const auto& l : lines) sendchar(*rig.station, l);
    rig.loop.wait_for([&] { return rig.line.out_buffer_count() == 0; },
                      std::chrono::milliseconds(1));
    peer.join();
    const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    const double cpu = thread_cpu_seconds() - cpu0;
    rusage u1{};
    ::getrusage(RUSAGE_THREAD, &u1);
    const double line_secs = static_cast<double>(total) * 10.0 / baud;
    state.counters["cpu_share"] = cpu / wall;
    const auto wakeups = static_cast<double>(u1.ru_nvcsw - u0.ru_nvcsw);
    state.counters["wakeups_per_s"] = wakeups / wall;
    state.counters["cpu_us_per_wakeup"] = wakeups > 0 ? cpu / wakeups * 1e6 : 0;
    state.counters["bare_wakeup_us"] = bare_wakeup_us();
    state.counters["efficiency"] = line_secs / wall;
    state.counters["received"] = static_cast<double>(end.received);
  }
}
BENCHMARK(BM_PacedLineCpu)
    ->ArgNames({"tcp"})
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_PacedLineXoff)
    ->ArgNames({"tcp", "paced", "journal"})
    ->Args({0, 1, 0})
    ->Args({1, 1, 0})
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Args({0, 1, 1})
    ->Args({1, 1, 1})
    ->Args({0, 1, 2})
    ->Args({1, 1, 2})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
