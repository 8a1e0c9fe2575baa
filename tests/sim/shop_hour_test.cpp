// A whole shop for an hour of virtual time: eight machines requesting programs every few
// minutes from a small scanning host written here (the station itself is not involved),
// each program checked on arrival - and the hour must take well under a second.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "machine_codes.hpp"
#include "shop_fixture.hpp"

namespace shoplink::sim {
namespace {
using testing::dc4;
using testing::select_port;

std::string program_for(const std::string& name) {
  return "%\r\n" + name + "\r\nG00X1.0Y2.0\r\nG01Z-0.5F100.\r\nM30\r\n%\r\n";
}

// Probes, sets up, then walks the ports every 100 ms; stays on a port while it speaks;
// answers "T<name>" with the program once the machine says Xon.
class ScanningHost {
 public:
  ScanningHost(EventLoop& loop, SimLine& line) : loop_(loop), line_(line) {
    scan_ = loop_.add_timer("scan", millis(100), [this] { tick(); });
  }
  void start() {
    line_.write(std::string("   ") + dc4("J") + dc4("K"));
    loop_.post_after(millis(1100), [this] {
      answer_ok_ = line_.read().find('*') != std::string::npos;
      std::string setup = dc4("J") + dc4("K");
      for (int p = 1; p <= 8; ++p)
        setup += select_port(p) + select_port(p) + dc4(std::string(1, char('@' + p))) + "283441511";
      line_.write(setup + select_port(1) + dc4("J"));
      loop_.start(scan_);
    });
  }
  bool answer_ok() const { return answer_ok_; }
  std::map<int, int> served;

 private:
  void tick() {
    if (line_.in_buffer_count() > 0) {
      for (char c : line_.read()) take(static_cast<char>(c & 0x7F));
      return;
    }
    if (!awaiting_xon_.empty() || line_.out_buffer_count() > 0) return;
    port_ = port_ % 8 + 1;
    line_.write(select_port(port_));
    text_.clear();
  }
  void take(char c) {
    if (c == 17 && !awaiting_xon_.empty()) {
      line_.write(encode_text(MachineCode::IsoEven, program_for(awaiting_xon_)));
      awaiting_xon_.clear();
      ++served[port_];
    } else if (c == '\n') {
      if (!text_.empty() && text_.back() == '\r') text_.pop_back();
      if (!text_.empty() && text_[0] == 'T') awaiting_xon_ = text_.substr(1);
      text_.clear();
    } else {
      text_.push_back(c);
    }
  }
  EventLoop& loop_;
  SimLine& line_;
  EventLoop::TimerId scan_;
  int port_ = 1;
  bool answer_ok_ = false;
  std::string text_;
  std::string awaiting_xon_;
};

TEST(ShopHour, EightMachinesForAnHourInWellUnderASecond) {
  VirtualClock clock;
  VirtualLoop loop{clock};
  ShopOptions o;
  for (int p = 1; p <= 8; ++p) o.machines[p].xon_after_command = millis(800);
  Shop shop(loop, o);
  shop.line().set_settings("9600,N,8,1");
  shop.line().set_rts(true);
  ASSERT_TRUE(shop.line().open());
  ScanningHost host(loop, shop.line());
  host.start();
  std::map<int, std::vector<std::string>> asked;
  for (int p = 1; p <= 8; ++p) {
    for (int k = 0; k < 12; ++k) {
      const std::string name = "O" + std::to_string(p * 100 + k);
      asked[p].push_back(name);
      shop.at(std::chrono::seconds(30 + 300 * k + 7 * p),
              [&shop, p, name] { shop.machine(p).send_command("T" + name); });
    }
  }
  const auto t0 = std::chrono::steady_clock::now();
  loop.advance(std::chrono::hours(1));
  const auto real = std::chrono::steady_clock::now() - t0;

  EXPECT_TRUE(host.answer_ok());
  EXPECT_EQ(shop.controller().setup_blocks(), 8);
  for (int p = 1; p <= 8; ++p) {
    const auto progs = shop.machine(p).programs();
    ASSERT_EQ(progs.size(), 12u) << "port " << p;
    for (std::size_t k = 0; k < progs.size(); ++k) {
      EXPECT_TRUE(progs[k].complete);
      EXPECT_EQ(progs[k].parity_errors, 0);
      EXPECT_EQ(progs[k].lines(), (std::vector<std::string>{"%", asked[p][k], "G00X1.0Y2.0",
                                                            "G01Z-0.5F100.", "M30", "%"}))
          << "port " << p << " program " << k;
    }
    EXPECT_EQ(host.served[p], 12);
  }
#if defined(SHOPLINK_SANITIZED)
  const auto limit = std::chrono::seconds(10);
#else
  const auto limit = std::chrono::milliseconds(1000);
#endif
  EXPECT_LT(real, limit) << std::chrono::duration_cast<std::chrono::milliseconds>(real).count()
                         << " ms";
}

}  // namespace
}  // namespace shoplink::sim
