// A machine that sends faster than the station drains its line: the station holds it with
// DC3 (and RTS) when the backlog passes 2048 characters, releases it with DC1, and stores
// every byte of a 200 KB program.
#include <gtest/gtest.h>

#include <cstdio>

#include "base/virtual_loop.hpp"
#include "receive/reception.hpp"
#include "station/wired_station.hpp"
#include "support/temp_dir.hpp"
#include "transmit/code_tables.hpp"
#include "ui/recorder.hpp"

namespace shoplink {
namespace {

// The machine streams its program at a fixed rate while not held; the host buffer holds
// 4096 characters, anything beyond is lost (counted).
class FloodLine final : public SerialPort {
 public:
  FloodLine(const Clock& clock, double bytes_per_ms) : clock_(clock), rate_(bytes_per_ms) {}
  bool is_open() const override { return open_; }
  bool cts() override { return true; }
  int in_buffer_count() override {
    produce();
    return static_cast<int>(buffer.size());
  }
  void clear_in_buffer() override { buffer.clear(); }
  int out_buffer_count() override { return 0; }
  void clear_out_buffer() override {}
  std::string read() override {
    produce();
    std::string out = input_len() == 1 ? buffer.substr(0, 1) : buffer;
    buffer.erase(0, out.size());
    return out;
  }
  void write(std::string_view bytes) override {
    for (char c : bytes) {
      produce();
      if (c == 19 && flooding) {
        held = true;
        ++dc3;
      } else if (c == 17 && flooding) {
        held = false;
        ++dc1;
      }
    }
  }
  void start_flood(std::string text) {
    produce();
    program = std::move(text);
    flooding = true;
  }

  std::string buffer, program;
  std::size_t sent = 0;
  bool flooding = false, held = false;
  int dc3 = 0, dc1 = 0;
  long lost = 0;

 protected:
  bool do_open() override { return open_ = true; }
  void do_close() override { open_ = false; }

 private:
  void produce() {
    const TimePoint now = clock_.now();
    if (flooding && !held && sent < program.size()) {
      credit_ += std::chrono::duration<double, std::milli>(now - last_).count() * rate_;
      const auto n = std::min(static_cast<std::size_t>(credit_), program.size() - sent);
      credit_ -= static_cast<double>(n);
      buffer.append(program, sent, n);
      sent += n;
      if (buffer.size() > 4096) {
        lost += static_cast<long>(buffer.size() - 4096);
        buffer.resize(4096);
      }
    } else {
      credit_ = 0;
    }
    last_ = now;
  }
  const Clock& clock_;
  double rate_;
  double credit_ = 0;
  TimePoint last_{};
  bool open_ = false;
};

TEST(FlowControl, FastMachineIsHeldAndReleasedAndNothingIsLost) {
  testing::TempDir dir;
  VirtualClock clock;
  VirtualLoop loop{clock};
  FloodLine line(clock, 20.0);  // 3000 characters per receive poll
  RecordingWindow window;
  RecordingDialogs dialogs;
  RecordingPlatform platform;
  HostPaths paths{dir.path()};
  WiredStation s{{loop, line, window, dialogs, platform, paths}};
  build_code_tables(s);
  s.config.log_path = s.station_file("SHOPLINK.LOG");
  s.ports[1].receive_dir = s.station_file("");
  s.ports[1].receive_dir.pop_back();
  s.port = 1;
  s.filetype = 1;
  line.open();
  s.Timer13.start();

  std::string program;
  char buf[64];
  for (int n = 1; program.size() < 200 * 1024; ++n) {
    std::snprintf(buf, sizeof buf, "N%05d G01 X%d.%03d Y-%d.%03d F250\r\n", n, n % 97, n % 1000,
                  n % 13, (n * 7) % 1000);
    program += buf;
  }
  line.buffer = "RO9\r\n";
  loop.advance_ms(1300);
  ASSERT_EQ(s.mode, Mode::Receiving);
  line.start_flood(program);
  ASSERT_TRUE(loop.run_until([&] { return s.mode == Mode::Settling; }, millis(120000)));

  EXPECT_GT(line.dc3, 0);
  EXPECT_EQ(line.dc1, line.dc3);  // never left held
  EXPECT_FALSE(line.held);
  EXPECT_TRUE(line.rts());
  EXPECT_EQ(line.lost, 0);
  EXPECT_EQ(dir.read("O9"), program);
}

}  // namespace
}  // namespace shoplink
