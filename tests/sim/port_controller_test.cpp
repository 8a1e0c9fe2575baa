#include "port_controller.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "shop_fixture.hpp"

namespace shoplink::sim {
namespace {
using testing::bytes;
using testing::dc4;
using testing::select_port;
using testing::ShopTest;

using ControllerTest = ShopTest;

const std::string kProbe = std::string("   ") + "\x14J\x14K";

TEST_F(ControllerTest, AnswersProbeAfterItsDelay) {
  host_write(kProbe);
  run_ms(25);  // probe on the wire 7.3 ms, answer starts 20 ms later
  EXPECT_EQ(shop->line().in_buffer_count(), 0);
  run_ms(20);
  EXPECT_EQ(host_read(), "OK*\r\n");
  EXPECT_EQ(ctl().probes_answered(), 1);
  EXPECT_EQ(ctl().bytes_for_host_port(0), "   ");  // no port selected yet: spaces go nowhere
  EXPECT_TRUE(m(1).received_bytes().empty());
  for (const auto& e : ctl().transcript()) {
    if (e.to_host) {
      EXPECT_EQ(e.port, 0);
    }
  }
}

TEST_F(ControllerTest, ProbeAnswerVariants) {
  ctl().set_silent(true);
  host_write(kProbe);
  run_ms(2000);
  EXPECT_EQ(shop->line().in_buffer_count(), 0);

  ctl().set_silent(false);
  ctl().set_answer_pieces({"O", "K*", "\r\n"}, millis(300));
  host_write(kProbe);
  run_ms(40);
  EXPECT_EQ(host_read(), "O");
  run_ms(300);
  EXPECT_EQ(host_read(), "K*");
  run_ms(300);
  EXPECT_EQ(host_read(), "\r\n");

  ctl().set_probe_answer("HELLO*\r\n");
  host_write(kProbe);
  run_ms(100);
  EXPECT_EQ(host_read(), "HELLO*\r\n");

  ctl().set_powered(false);
  EXPECT_FALSE(shop->line().cts());
  host_write(kProbe);
  run_ms(1000);
  EXPECT_EQ(shop->line().in_buffer_count(), 0);
}

TEST_F(ControllerTest, SetUpStringGivesEachPortsParameters) {
  // Port 1: "9600 (MILL) /E /2"; port 2: "110"; port 3: a rate without a code.
  std::string s = dc4("J") + dc4("K");
  s += select_port(1) + select_port(1) + dc4("A") + "283343521";
  s += select_port(2) + select_port(2) + dc4("B") + "213443511";
  s += select_port(3) + select_port(3) + dc4("C") + "23441511";
  s += select_port(1) + dc4("J");
  host_write(s);
  run_ms(200);
  const PortParams& p1 = ctl().params(1);
  EXPECT_TRUE(p1.set);
  EXPECT_EQ(p1.raw, "283343521");
  EXPECT_EQ(p1.baud_code, 8);
  EXPECT_EQ(p1.baud(), 9600);
  EXPECT_TRUE(p1.even_parity());
  EXPECT_EQ(p1.stop_bits(), 2);
  EXPECT_EQ(p1.data_bits(), 7);
  const PortParams& p2 = ctl().params(2);
  EXPECT_EQ(p2.baud(), 110);
  EXPECT_FALSE(p2.even_parity());
  EXPECT_EQ(p2.stop_bits(), 2);
  EXPECT_EQ(p2.data_bits(), 8);
  EXPECT_TRUE(ctl().params(3).set);
  EXPECT_EQ(ctl().params(3).baud_code, 0);
  EXPECT_EQ(ctl().params(3).stop_bits(), 1);
  EXPECT_FALSE(ctl().params(4).set);
  EXPECT_EQ(ctl().setup_blocks(), 3);
  EXPECT_EQ(ctl().malformed_blocks(), 0);
  EXPECT_EQ(ctl().setup_ends(), 1);
  EXPECT_EQ(ctl().selected_port(), 1);
  EXPECT_EQ(ctl().port_baud(2), 110);
  EXPECT_EQ(ctl().port_baud(4), 9600);  // the machine's own rate until set up
  // Nothing of the set-up string reached a machine.
  for (int p = 1; p <= 8; ++p) EXPECT_TRUE(m(p).received_bytes().empty()) << p;
}

TEST_F(ControllerTest, MalformedBlockIsCountedNotApplied) {
  host_write(dc4("D") + "2999" + dc4("J"));
  run_ms(50);
  EXPECT_FALSE(ctl().params(4).set);
  EXPECT_EQ(ctl().malformed_blocks(), 1);
}

TEST_F(ControllerTest, HoldsWhatAMachineSentUntilItsPortIsSelected) {
  host_write(select_port(1));
  m(3).send_command("TO1234");
  run_ms(100);
  EXPECT_EQ(shop->line().in_buffer_count(), 0);
  EXPECT_EQ(ctl().buffered(3), 8u);
  host_write(select_port(3));
  run_ms(50);
  EXPECT_EQ(host_read(), bytes({0xD4, 0xCF, 0xB1, 0xB2, 0x33, 0xB4, 0x8D, 0x0A}));
  EXPECT_EQ(ctl().buffered(3), 0u);
  // Once selected, the machine's bytes pass straight through.
  m(3).send_text("X");
  run_ms(10);
  EXPECT_EQ(host_read(), bytes({0xD8}));
  // Another machine's bytes wait; DC4 "Q" alone does not hand them over.
  m(2).send_text("Y");
  run_ms(10);
  host_write(dc4("Q"));
  run_ms(10);
  EXPECT_EQ(shop->line().in_buffer_count(), 0);
  EXPECT_EQ(ctl().buffered(2), 1u);
}

TEST_F(ControllerTest, RoutesDataToTheSelectedMachineOnly) {
  host_write(select_port(3) + "AB" + dc4("\x14") + dc4("I") + dc4("Z") + select_port(5) + "C");
  run_ms(100);
  EXPECT_EQ(m(3).received_bytes(), "AB\x14\x14Z");
  EXPECT_EQ(ctl().bytes_for_host_port(3), "AB\x14\x14Z");
  EXPECT_EQ(m(5).received_bytes(), "C");
  EXPECT_TRUE(m(4).received_bytes().empty());
}

TEST_F(ControllerTest, MachineSideRunsAtThePortsRate) {
  MachineConfig slow;
  slow.baud = 300;  // 33.3 ms a byte
  m(2).configure(slow);
  host_write(select_port(2) + "ABC");
  run_ms(10);  // all on the controller after ~7 ms
  EXPECT_EQ(m(2).received_bytes(), "");
  run_ms(30);  // 40 ms: the first byte is through
  EXPECT_EQ(m(2).received_bytes(), "A");
  run_ms(70);
  EXPECT_EQ(m(2).received_bytes(), "ABC");
}

TEST_F(ControllerTest, CtsDropsWhileTheSelectedPortIsOverrun) {
  MachineConfig slow;
  slow.baud = 110;  // 11 bytes a second
  m(4).configure(slow);
  host_write(select_port(4) + std::string(100, 'x'));
  EXPECT_TRUE(shop->line().cts());
  run_ms(200);
  EXPECT_FALSE(shop->line().cts());  // more than 64 queued
  run_ms(6000);
  EXPECT_FALSE(shop->line().cts());  // still above 16
  run_ms(3000);
  EXPECT_TRUE(shop->line().cts());
  // Another port selected: that one's queue is what counts.
  host_write(std::string(80, 'y') + select_port(5));
  run_ms(200);
  EXPECT_TRUE(shop->line().cts());
  shop->line().set_cts_forced_off(true);
  EXPECT_FALSE(shop->line().cts());
}

TEST_F(ControllerTest, SeesHostModemLines) {
  shop->line().set_rts(false);
  shop->line().set_dtr(false);
  EXPECT_FALSE(ctl().host_rts());
  EXPECT_FALSE(ctl().host_dtr());
  ASSERT_GE(ctl().line_events().size(), 4u);
  EXPECT_EQ(ctl().line_events().back().second, "DTR off");
}

TEST(ControllerRts, HonouringRtsHoldsDataForTheHost) {
  VirtualClock clock;
  VirtualLoop loop{clock};
  ShopOptions o;
  o.controller.honour_host_rts = true;
  Shop shop(loop, o);
  shop.line().set_rts(false);
  ASSERT_TRUE(shop.line().open());
  shop.line().write(select_port(1));
  shop.machine(1).send_text("AB");
  loop.advance_ms(50);
  EXPECT_EQ(shop.line().in_buffer_count(), 0);
  shop.line().set_rts(true);
  loop.advance_ms(50);
  EXPECT_EQ(shop.line().read(), bytes({0x41, 0x42}));
}

// In real time the controller hands a machine what fell due a few bytes at a time instead of
// waking once a byte; the machine's line keeps its exact rate either way.
class DeliveryStep : public ::testing::TestWithParam<int> {};

TEST_P(DeliveryStep, EveryByteOnTimeInFewerWakeUps) {
  const Duration step = std::chrono::milliseconds(GetParam());
  VirtualClock clock;
  VirtualLoop loop(clock);
  ControllerOptions opts;
  opts.delivery_step = step;
  PortController ctl(loop, opts);
  const TimePoint t0 = loop.now();
  std::vector<TimePoint> arrived;
  ctl.attach_machine(
      2, [&](std::uint8_t) { arrived.push_back(loop.now()); }, 9600);
  for (char c : select_port(2)) ctl.on_host_byte(static_cast<std::uint8_t>(c));
  for (int i = 0; i < 960; ++i) ctl.on_host_byte('x');  // a second of the machine's line
  loop.advance(std::chrono::seconds(2));
  ASSERT_EQ(arrived.size(), 960u);
  const Duration byte = byte_time(9600);
  std::size_t wakeups = 0;
  for (std::size_t k = 0; k < arrived.size(); ++k) {
    const TimePoint due = t0 + byte * static_cast<long>(k + 1);
    EXPECT_GE(arrived[k], due) << k;  // never faster than the line
    EXPECT_LE(arrived[k], due + step) << k;
    if (k == 0 || arrived[k] != arrived[k - 1]) ++wakeups;
  }
  if (step == Duration::zero())
    EXPECT_EQ(wakeups, 960u);
  else
    EXPECT_LE(wakeups, static_cast<std::size_t>(std::chrono::seconds(1) / step) + 1);
}

INSTANTIATE_TEST_SUITE_P(Steps, DeliveryStep, ::testing::Values(0, 4, 10),
                         [](const auto& info) { return std::to_string(info.param) + "ms"; });

}  // namespace
}  // namespace shoplink::sim
