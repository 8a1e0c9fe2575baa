#include "base/posix_serial_port.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "base/real_loop.hpp"

namespace shoplink {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

std::string all_byte_values() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

// A pattern in which a lost, doubled or swapped block shows.
std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

std::chrono::microseconds thread_cpu() {
  rusage u{};
  ::getrusage(RUSAGE_THREAD, &u);
  return std::chrono::seconds(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         std::chrono::microseconds(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// The station opens the slave side of a pseudo-terminal; the test plays the port controller
// on the master side.
struct PtyLineTest : ::testing::Test {
  int master = -1;
  int slave = -1;  // kept open to inspect the terminal settings
  std::string device;
  std::string asked_for;
  RealClock clock;
  RealLoop loop{clock};
  PosixSerialPort line{loop, [this](const std::string& digit) {
                         asked_for = digit;
                         return device;
                       }};

  void SetUp() override {
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    device = name;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // These cases move megabytes at the device's own speed; pacing has its own scenarios.
    line.set_pacing_allowed(false);
  }
  void TearDown() override {
    line.close();
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
  }

  // The opening order of the start-up scan.
  bool open_as_startup(const std::string& rate = "9600") {
    line.set_option_flag(true);
    line.set_port_number("1");
    line.set_settings(rate + ",N,8,1");
    line.set_rx_buffer_size(4096);
    line.set_tx_buffer_size(4096);
    line.set_handshaking(0);
    line.set_rthreshold(2048);
    line.set_rts(true);
    line.set_dtr(true);
    line.set_input_len(0);
    return line.open();
  }

  // Reads from the controller's side until `n` bytes came or `limit` passed.
  std::string master_read(std::size_t n, std::chrono::milliseconds limit = 5000ms) {
    std::string got;
    const auto end = SteadyClock::now() + limit;
    char buf[4096];
    while (got.size() < n && SteadyClock::now() < end) {
      pollfd p{master, POLLIN, 0};
      ::poll(&p, 1, 10);
      ssize_t r = ::read(master, buf, std::min(sizeof buf, n - got.size()));
      if (r > 0) got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  // Everything the controller's side can read now.
  std::string master_drain() {
    std::string got;
    char buf[4096];
    for (;;) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) break;
      ssize_t r = ::read(master, buf, sizeof buf);
      if (r <= 0) break;
      got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  void master_write(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t r = ::write(master, bytes.data(), bytes.size());
      if (r > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(r));
      } else {
        pollfd p{master, POLLOUT, 0};
        ::poll(&p, 1, 10);
      }
    }
  }
  // The station yields until `done` holds (the terminal layer passes bytes on shortly).
  bool station_wait(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto end = SteadyClock::now() + limit;
    while (!done()) {
      if (SteadyClock::now() >= end) return false;
      loop.yield(millis(2));
    }
    return true;
  }
};

TEST_F(PtyLineTest, OpensInTheStartUpOrderAsRawEightNoneOne) {
  ASSERT_TRUE(open_as_startup("4800")) << line.open_error();
  EXPECT_TRUE(line.is_open());
  EXPECT_EQ(asked_for, "1");
  EXPECT_EQ(line.device(), device);
  EXPECT_EQ(line.open_error(), "");
  EXPECT_EQ(line.trace(),
            (std::vector<std::string>{"option=on", "port=1", "settings=4800,N,8,1", "rxbuf=4096",
                                      "txbuf=4096", "handshaking=0", "rthreshold=2048", "rts=on",
                                      "dtr=on", "inputlen=0", "open"}));

  termios tio{};
  ASSERT_EQ(::tcgetattr(slave, &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), B4800);
  EXPECT_EQ(::cfgetispeed(&tio), B4800);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(tio.c_cflag & CREAD, 0u);
  EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
  // Nothing of a terminal's line handling: no echo, no line editing, no signals, no CR/LF
  // translation, no software flow control, no output processing.
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);

  // Reopened at another rate (the operator edited DNCDATA and rescanned).
  line.close();
  EXPECT_FALSE(line.is_open());
  line.set_settings("110,N,8,1");
  ASSERT_TRUE(line.open());
  ASSERT_EQ(::tcgetattr(slave, &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), B110);
}

TEST_F(PtyLineTest, OpenFailsWithoutAUsableDevice) {
  const std::string pty = device;
  device = "/nonexistent/ttyS9";
  EXPECT_FALSE(open_as_startup());
  EXPECT_FALSE(line.is_open());
  EXPECT_NE(line.open_error().find("/nonexistent/ttyS9"), std::string::npos);
  // Operations on the closed port neither fail nor block.
  EXPECT_FALSE(line.cts());
  EXPECT_EQ(line.in_buffer_count(), 0);
  EXPECT_EQ(line.out_buffer_count(), 0);
  EXPECT_EQ(line.read(), "");
  line.write("x");
  line.clear_in_buffer();
  line.clear_out_buffer();

  device = "";  // a port number the host map cannot name
  EXPECT_FALSE(line.open());
  device = "/dev/null";  // not a terminal
  EXPECT_FALSE(line.open());
  EXPECT_FALSE(line.is_open());

  // A rate no serial device runs at ("COM1:19200" cut to four digits).
  device = pty;
  line.set_settings("1920,N,8,1");
  EXPECT_FALSE(line.open());
  EXPECT_NE(line.open_error(), "");
  line.set_settings("9600,N,8,1");
  EXPECT_TRUE(line.open());
  EXPECT_EQ(line.open_error(), "");
}

TEST_F(PtyLineTest, EveryByteValuePassesUnchangedBothWays) {
  ASSERT_TRUE(open_as_startup());
  const std::string bytes = all_byte_values();
  line.write(bytes);
  EXPECT_EQ(master_read(256), bytes);

  master_write(bytes);
  ASSERT_TRUE(station_wait([&] { return line.in_buffer_count() == 256; }));
  EXPECT_EQ(line.read(), bytes);
  EXPECT_EQ(line.in_buffer_count(), 0);

  // Binary traffic (option flag off) is just as transparent.
  line.set_option_flag(false);
  for (int i = 0; i < 256; ++i) line.write(std::string(1, static_cast<char>(i)));
  EXPECT_EQ(master_read(256), bytes);
  master_write(bytes + bytes);
  ASSERT_TRUE(station_wait([&] { return line.in_buffer_count() == 512; }));
  EXPECT_EQ(line.read(), bytes + bytes);
}

TEST_F(PtyLineTest, InputLengthOneReadsOneCharacterAtATime) {
  ASSERT_TRUE(open_as_startup());
  master_write(std::string("X\0Z", 3));
  ASSERT_TRUE(station_wait([&] { return line.in_buffer_count() == 3; }));
  line.set_input_len(1);
  EXPECT_EQ(line.read(), "X");
  EXPECT_EQ(line.in_buffer_count(), 2);
  EXPECT_EQ(line.read(), std::string(1, '\0'));
  EXPECT_EQ(line.read(), "Z");
  EXPECT_EQ(line.read(), "");
  line.set_input_len(0);
  // Switching per character while open does not flood the opening trace.
  EXPECT_EQ(line.trace().back(), "open");
}

TEST_F(PtyLineTest, DiscardingReceivedCharacters) {
  ASSERT_TRUE(open_as_startup());
  master_write(pattern(3000));
  ASSERT_TRUE(station_wait([&] { return line.in_buffer_count() == 3000; }));
  line.clear_in_buffer();
  EXPECT_EQ(line.in_buffer_count(), 0);
  EXPECT_EQ(line.read(), "");
  // What comes after the discard is received normally.
  master_write("after");
  ASSERT_TRUE(station_wait([&] { return line.in_buffer_count() == 5; }));
  EXPECT_EQ(line.read(), "after");
}

// Once the device has said nothing waits, the count is the loop's to tell: a paced line asks
// before every burst, and the poll the station slept in has already looked.
TEST_F(PtyLineTest, OnceNothingWaitsTheLoopTellsWhenInputComes) {
  ASSERT_TRUE(open_as_startup());
  EXPECT_EQ(line.in_buffer_count(), 0);
  master_write("X");
  std::this_thread::sleep_for(20ms);     // at the terminal by now
  EXPECT_EQ(line.in_buffer_count(), 0);  // the device is not asked before the loop has polled
  ASSERT_TRUE(station_wait([&] { return line.in_buffer_count() == 1; }));
  EXPECT_EQ(line.read(), "X");
}

// A hang-up stays readable for ever: it must not wake the loop at every poll.
TEST_F(PtyLineTest, AHangUpDoesNotKeepWakingTheLoop) {
  ASSERT_TRUE(open_as_startup());
  EXPECT_EQ(line.in_buffer_count(), 0);
  ::close(master);
  master = -1;
  const auto start = SteadyClock::now();
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(line.in_buffer_count(), 0);
    loop.yield(20ms);
  }
  EXPECT_GE(SteadyClock::now() - start, 150ms);
}

TEST_F(PtyLineTest, UnsentCharactersCountUntilTakenAndCanBeDiscarded) {
  ASSERT_TRUE(open_as_startup());
  const std::string big = pattern(256 * 1024);  // far more than the terminal holds
  line.write(big);
  const int unsent = line.out_buffer_count();
  EXPECT_GT(unsent, 0);
  EXPECT_LE(unsent, static_cast<int>(big.size()));

  line.clear_out_buffer();
  EXPECT_EQ(line.out_buffer_count(), 0);
  line.write("END");
  ASSERT_TRUE(station_wait([&] { return line.out_buffer_count() == 0; }));
  const std::string got = master_drain();
  // Whatever the device had already taken may still arrive; the rest is gone, and what
  // follows the discard comes out whole.
  ASSERT_GE(got.size(), 3u);
  EXPECT_LT(got.size(), big.size());
  EXPECT_EQ(got.substr(got.size() - 3), "END");
  EXPECT_EQ(got.substr(0, got.size() - 3), big.substr(0, got.size() - 3));
}

TEST_F(PtyLineTest, AMegabyteToASlowReaderArrivesWholeAndInOrder) {
  ASSERT_TRUE(open_as_startup());
  const std::string payload = pattern(1024 * 1024);
  std::string received;
  std::atomic<std::size_t> received_size{0};
  std::thread reader([&] {
    const auto end = SteadyClock::now() + 60s;
    char buf[4096];
    while (received.size() < payload.size() && SteadyClock::now() < end) {
      pollfd p{master, POLLIN, 0};
      ::poll(&p, 1, 10);
      ssize_t r = ::read(master, buf, sizeof buf);
      if (r > 0) {
        received.append(buf, static_cast<std::size_t>(r));
        received_size = received.size();
      }
      std::this_thread::sleep_for(500us);  // a slow machine
    }
  });

  // First half one byte at a time, as text goes out, then the rest in one piece.
  const std::size_t half = payload.size() / 2;
  for (std::size_t i = 0; i < 20000; ++i) line.write(payload.substr(i, 1));
  line.write(std::string_view(payload).substr(20000, half - 20000));
  // The writes did not wait for the reader: the device holds far less than half a megabyte.
  EXPECT_GT(line.out_buffer_count(), 0);
  // The loop alone moves the output on as the device drains.
  const auto end = SteadyClock::now() + 60s;
  while (received_size < half - 64 * 1024 && SteadyClock::now() < end) loop.yield(millis(5));
  EXPECT_GE(received_size.load(), half - 64 * 1024);

  line.write(std::string_view(payload).substr(half));
  // The station's own wait: yield until nothing is left unsent.
  while (line.out_buffer_count() > 0 && SteadyClock::now() < end) loop.yield(millis(1));
  EXPECT_EQ(line.out_buffer_count(), 0);
  reader.join();
  ASSERT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload) << "bytes were lost, doubled or reordered";
}

TEST_F(PtyLineTest, PseudoTerminalHasNoModemLines) {
  ASSERT_TRUE(open_as_startup());
  EXPECT_TRUE(line.cts());  // nothing to read: the line counts as ready
  line.set_dtr(false);
  line.set_rts(false);
  EXPECT_FALSE(line.dtr());
  EXPECT_FALSE(line.rts());
  EXPECT_TRUE(line.cts());
  line.set_dtr(true);
  line.write("ok");
  EXPECT_EQ(master_read(2), "ok");
}

// The scan tick goes on writing to a line that is gone: what is held stays bounded, and the
// device's refusal is there for the station to report.
TEST_F(PtyLineTest, AHungUpLineHoldsNoMoreThanItsLimitAndSaysWhy) {
  ASSERT_TRUE(open_as_startup());
  EXPECT_EQ(line.output_error(), "");
  ::close(master);
  master = -1;
  ::close(slave);
  slave = -1;
  for (int tick = 0; tick < 100000; ++tick)
    line.write(
        "\x14"
        "3\x14Q");
  EXPECT_GT(line.output_held(), 0u);
  EXPECT_LE(line.output_held(), PosixSerialPort::kDeadOutputLimit);
  EXPECT_EQ(line.out_buffer_count(), static_cast<int>(line.output_held()));
  EXPECT_FALSE(line.output_error().empty());
}

TEST_F(PtyLineTest, AHungUpLineKeepsItsOutputAndDoesNotSpinTheLoop) {
  ASSERT_TRUE(open_as_startup());
  line.write(pattern(256 * 1024));
  ASSERT_GT(line.out_buffer_count(), 0);
  ::close(master);
  master = -1;
  ::close(slave);  // the station's descriptor is now the only one left
  slave = -1;

  const auto cpu_before = thread_cpu();
  const auto start = SteadyClock::now();
  while (SteadyClock::now() - start < 300ms) loop.yield(millis(50));
  EXPECT_LT(thread_cpu() - cpu_before, 50ms) << "the loop kept waking for a dead line";
  EXPECT_GT(line.out_buffer_count(), 0);  // not silently dropped
  EXPECT_EQ(line.read(), "");
  line.clear_out_buffer();
  EXPECT_EQ(line.out_buffer_count(), 0);
}

}  // namespace
}  // namespace shoplink
