// The real-time transport: the same controller and machines behind a pseudo-terminal.
#include "pty_link.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "base/clock.hpp"
#include "base/real_loop.hpp"
#include "shop.hpp"
#include "shop_fixture.hpp"

namespace shoplink::sim {
namespace {
using testing::bytes;
using testing::select_port;

struct SimPtyTest : ::testing::Test {
  RealClock clock;
  RealLoop loop{clock};
  PtyLink pty{loop};
  int fd = -1;
  void SetUp() override {
    fd = ::open(pty.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << pty.device();
  }
  void TearDown() override {
    if (fd >= 0) ::close(fd);
  }
  // Runs the loop until `done` or two seconds of real time.
  bool run_until(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      loop.yield(millis(5));
    }
    return true;
  }
  std::string got;
  void read_some() {
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  }
};

TEST_F(SimPtyTest, StationSideSeesTheMachinesAndReachesThem) {
  ASSERT_EQ(pty.device().rfind("/dev/pts/", 0), 0u);
  ShopOptions o;
  o.controller.initial_port = 1;
  Shop shop(loop, pty, o);
  pty.attach(shop.controller());
  shop.machine(1).send_command("T1");
  ASSERT_TRUE(run_until([&] {
    read_some();
    return got.size() >= 4;
  }));
  EXPECT_EQ(got, bytes({0xD4, 0xB1, 0x8D, 0x0A}));

  const std::string out = select_port(2) + "AB";
  ASSERT_EQ(::write(fd, out.data(), out.size()), static_cast<ssize_t>(out.size()));
  ASSERT_TRUE(run_until([&] { return shop.machine(2).received_bytes() == "AB"; }));
  EXPECT_EQ(shop.controller().selected_port(), 2);

  const std::string probe = std::string("   ") + "\x14J\x14K";
  got.clear();
  ASSERT_EQ(::write(fd, probe.data(), probe.size()), static_cast<ssize_t>(probe.size()));
  ASSERT_TRUE(run_until([&] {
    read_some();
    return got.size() >= 5;
  }));
  EXPECT_EQ(got, "OK*\r\n");
}

}  // namespace
}  // namespace shoplink::sim
