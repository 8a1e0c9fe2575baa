// The plant publisher's cost on the paced line: the station sends 2,600 characters at 9600
// baud over a pseudo-terminal (Xoff after 2,000, as BM_PacedLineXoff) with the journal and
// the plant publisher on, connected to a real mosquitto broker on loopback (started here;
// skipped without it), while activity events are reported at `per_s` a second, each one an
// outbox row, a publish at QoS 1, the broker's acknowledgement and the row's removal, all on
// the station's thread. Counters: `after_xoff`, `efficiency` (as BM_PacedLineXoff),
// `reported_per_s` (events the loop's timer managed to report a second), `published_per_s`
// (acknowledged messages a second of the send) and `outbox_left` (not yet
// acknowledged when the send was over; 0: the publisher kept up).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "base/host_line.hpp"
#include "base/host_paths.hpp"
#include "base/real_loop.hpp"
#include "core/character_output.hpp"
#include "core/station_reports.hpp"
#include "core/station_snapshot.hpp"
#include "journal/journal.hpp"
#include "null_services.hpp"
#include "plant/mosquitto_link.hpp"
#include "plant/plant_publisher.hpp"
#include "station/wired_station.hpp"

namespace fs = std::filesystem;
using namespace shoplink;
using SteadyClock = std::chrono::steady_clock;

namespace {

int free_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// mosquitto on a free loopback port, for the life of the object.
struct Broker {
  explicit Broker(const fs::path& dir) : port(free_port()) {
    const char* exe = fs::exists("/usr/sbin/mosquitto") ? "/usr/sbin/mosquitto" : nullptr;
    if (!exe) return;
    const fs::path conf = dir / "broker.conf";
    std::ofstream(conf) << "listener " << port << " 127.0.0.1\nallow_anonymous true\n"
                        << "user " << (::getuid() == 0 ? "root" : "nobody") << "\n";
    pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(exe, exe, "-c", conf.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Up when it takes a connection.
    for (int i = 0; i < 100 && !up; ++i) {
      const int s = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<std::uint16_t>(port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      up = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(s);
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Broker() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }
  int port;
  pid_t pid = -1;
  bool up = false;
};

struct FarEnd {
  std::size_t received = 0, after_xoff = 0;
  SteadyClock::time_point first{}, xoff_sent{};
  void run(int fd, double cps, std::size_t xoff_at, std::size_t total) {
    const auto end = SteadyClock::now() + std::chrono::seconds(60);
    bool held = false, released = false;
    SteadyClock::time_point release_at{};
    double budget = 1;
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
        budget = 2;
      }
      if (!held && received >= xoff_at) {
        const char xoff = 0x13;
        [[maybe_unused]] auto w = ::write(fd, &xoff, 1);
        held = true;
        xoff_sent = SteadyClock::now();
        release_at = xoff_sent + std::chrono::milliseconds(300);
      }
      if (held && !released && SteadyClock::now() >= release_at) {
        const char xon = 0x11;
        [[maybe_unused]] auto w = ::write(fd, &xon, 1);
        released = true;
      }
    }
  }
};

// range(0): activity events a second during the send (0: the publisher on, nothing to say).
void BM_PacedLinePlant(benchmark::State& state) {
  const double per_s = static_cast<double>(state.range(0));
  const long baud = 9600;
  const std::size_t xoff_at = 2000, total = 2600;
  std::string program;
  for (int i = 0; program.size() < total; ++i)
    program += "N" + std::to_string(i * 10) + " G01 X12.345 Y-6.789\r\n";
  program.resize(total);

  for (auto _ : state) {
    const fs::path dir =
        fs::temp_directory_path() / ("shoplink-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    {
      Broker broker(dir);
      if (!broker.up) {
        state.SkipWithError("mosquitto is not installed or did not start");
        fs::remove_all(dir);
        break;
      }
      int far = -1, slave = -1;
      char name[128] = {};
      ::openpty(&far, &slave, name, nullptr, nullptr);
      termios t{};
      ::tcgetattr(slave, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(slave, TCSANOW, &t);
      ::fcntl(far, F_SETFL, ::fcntl(far, F_GETFL) | O_NONBLOCK);
      RealClock clock;
      RealLoop loop(clock);
      HostPaths paths(dir);
      paths.map("COM1", name);
      paths.map("MQTT", "mqtt://127.0.0.1:" + std::to_string(broker.port));
      HostLine line(loop, [&](const std::string& d) { return paths.com_device(d); });
      line.set_port_number("1");
      line.set_settings("9600,N,8,1");
      line.open();
      bench::NullWindow window;
      bench::NullDialogs dialogs;
      bench::NullPlatform platform;
      WiredStation station({loop, line, window, dialogs, platform, paths});
      Journal journal(station, {});
      SnapshotPublisher snapshot(station);
      station.events.add(&snapshot);
      auto settings = plant_settings(paths, nullptr);
      PlantPublisher plant(
          station, *settings,
          std::make_unique<MosquittoLink>(loop, *settings, "bench/status", "offline"), &journal,
          &snapshot);
      station.events.station_started(clock.local_now());
      loop.wait_for([&] { return plant.connected(); }, std::chrono::milliseconds(10));
      std::int64_t reported = 0;
      bool sending = true;
      std::function<void()> tick = [&] {
        if (!sending) return;
        station.port = static_cast<std::int16_t>(1 + reported % 8);
        report_activity(station, ActivityKind::CycleStart, "");
        ++reported;
        loop.post_after(
            std::chrono::duration_cast<Duration>(std::chrono::duration<double>(1 / per_s)), tick);
      };
      const std::int64_t waiting = plant.outbox().size();
      if (per_s > 0) tick();
      FarEnd end;
      std::thread peer([&] { end.run(far, baud / 10.0, xoff_at, total); });
      const auto t0 = SteadyClock::now();
      sendchar(station, program);
      loop.wait_for([&] { return line.out_buffer_count() == 0; }, std::chrono::milliseconds(1));
      sending = false;
      peer.join();
      const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
      const std::int64_t left = plant.outbox().size();
      const double before = std::chrono::duration<double>(end.xoff_sent - end.first).count();
      state.counters["after_xoff"] = static_cast<double>(end.after_xoff);
      state.counters["efficiency"] = (static_cast<double>(xoff_at) - 1) * 10.0 / baud / before;
      state.counters["reported_per_s"] = static_cast<double>(reported) / wall;
      state.counters["published_per_s"] = static_cast<double>(reported + waiting - left) / wall;
      state.counters["outbox_left"] = static_cast<double>(left);
      state.counters["received"] = static_cast<double>(end.received);
      ::close(far);
      ::close(slave);
    }
    fs::remove_all(dir);
  }
}
BENCHMARK(BM_PacedLinePlant)
    ->ArgNames({"per_s"})
    ->Arg(0)
    ->Arg(10)
    ->Arg(100)
    ->Arg(500)
    ->Arg(1000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
