// Output on a pseudo-terminal is paced at the line rate, so a machine's Xoff stops the
// program within a character or two instead of after a kernel buffer's worth.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "base/host_paths.hpp"
#include "base/posix_serial_port.hpp"
#include "base/real_loop.hpp"
#include "core/character_output.hpp"
#include "station/wired_station.hpp"
#include "support/machine_peer.hpp"
#include "support/temp_dir.hpp"
#include "ui/recorder.hpp"

namespace shoplink::testing {
namespace {

using namespace std::chrono_literals;

std::string program_text(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; s.size() < n; ++i) s += "N" + std::to_string(i * 10) + " G01 X1.5\r\n";
  s.resize(n);
  return s;
}

// The station on real time with its host line on the slave side of a pseudo-terminal; the
// machine plays on the master side.
struct PtyStation {
  explicit PtyStation(bool pacing) {
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    device = name;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    line.set_pacing_allowed(pacing);
  }
  ~PtyStation() {
    line.close();
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
  }
  bool open(long baud) {
    line.set_settings(std::to_string(baud) + ",N,8,1");
    return line.open();
  }

  int master = -1, slave = -1;
  std::string device;
  TempDir dir;
  RealClock clock;
  RealLoop loop{clock};
  PosixSerialPort line{loop, [this](const std::string&) { return device; }};
  RecordingWindow window;
  RecordingDialogs dialogs;
  RecordingPlatform platform;
  HostPaths paths{dir.path()};
  WiredStation s{{loop, line, window, dialogs, platform, paths}};
};

// The bound is a real-time reaction: under the sanitizers the station runs several times
// slower and wakes late, so there it only has to stop within a second burst.
#ifdef SHOPLINK_SANITIZED
constexpr std::size_t kMostAfterXoff = 8;
#else
constexpr std::size_t kMostAfterXoff = 4;
#endif

struct PacedCase {
  long baud;
  std::size_t xoff_at;
  std::size_t total;
};

class PacedXoff : public ::testing::TestWithParam<PacedCase> {};

TEST_P(PacedXoff, StopsWithinAFewCharactersAndLosesNothing) {
  const PacedCase c = GetParam();
  PtyStation st(/*pacing=*/true);
  ASSERT_TRUE(st.open(c.baud)) << st.line.open_error();
  ASSERT_TRUE(st.line.paced()) << "a pseudo-terminal cannot report its queue";
  const std::string program = program_text(c.total);
  XoffMachine machine(st.master, c.baud, c.xoff_at, c.total, 100ms);
  sendchar(st.s, program);
  const XoffReport& r = machine.finish();
  EXPECT_EQ(r.received, program);
  EXPECT_LE(r.after_xoff, kMostAfterXoff);
  // Never faster than the line: the characters before the Xoff took their time on it.
  const auto line_time = std::chrono::nanoseconds(10'000'000'000LL / c.baud);
  EXPECT_GE(r.until_xoff, line_time * static_cast<long>(c.xoff_at - 3));
}

INSTANTIATE_TEST_SUITE_P(Rates, PacedXoff,
                         ::testing::Values(PacedCase{9600, 150, 300}, PacedCase{19200, 300, 500},
                                           PacedCase{4800, 60, 120}),
                         [](const auto& info) { return std::to_string(info.param.baud); });

// What pacing prevents: the kernel's buffer holds the program's rest, and all of it still
// reaches the machine after its Xoff.
TEST(PacedLine, WithoutPacingThePseudoTerminalRunsAheadOfTheXoff) {
  PtyStation st(/*pacing=*/false);
  ASSERT_TRUE(st.open(9600)) << st.line.open_error();
  const std::string program = program_text(300);
  XoffMachine machine(st.master, 9600, 100, 300, 400ms);
  sendchar(st.s, program);
  const XoffReport& r = machine.finish();
  EXPECT_EQ(r.received, program);
  EXPECT_GT(r.after_xoff, 150u);
}

TEST(PacedLine, OffForTestsAndBenchmarksWritesAtTheDeviceSpeed) {
  PtyStation st(/*pacing=*/false);
  ASSERT_TRUE(st.open(9600)) << st.line.open_error();
  EXPECT_FALSE(st.line.paced());
  // 2000 characters are 2 s at 9600 baud; unpaced they are in the device at once.
  st.line.write(program_text(2000));
  EXPECT_EQ(st.line.output_held(), 0u);
  EXPECT_EQ(st.line.out_buffer_count(), 0);
}

TEST(PacedLine, ABurstIsReleasedAtTheLineRateAndCountsAsUnsent) {
  PtyStation st(/*pacing=*/true);
  ASSERT_TRUE(st.open(9600)) << st.line.open_error();
  st.line.write(program_text(100));  // about 104 ms of line time
  EXPECT_GE(st.line.out_buffer_count(), 95);
  const auto start = std::chrono::steady_clock::now();
  st.loop.wait_for([&] { return st.line.out_buffer_count() == 0; }, 1ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 95ms);
  char buf[256];
  EXPECT_EQ(::read(st.master, buf, sizeof buf), 100);
}

TEST(PacedLine, TheHostMapTurnsPacingOff) {
  TempDir dir;
  HostPaths paths(dir.path());
  EXPECT_TRUE(paths.pacing_allowed());
  for (const char* v : {"OFF", "off", "No", "0"}) {
    paths.map("PACING", v);
    EXPECT_FALSE(paths.pacing_allowed()) << v;
  }
  paths.map("pacing", "on");
  EXPECT_TRUE(paths.pacing_allowed());
}

}  // namespace
}  // namespace shoplink::testing
