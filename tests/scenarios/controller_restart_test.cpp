// The port controller loses power for less than the handshake time-out and starts again,
// forgetting its set-up and its selected port. On a serial line the station sees it by DSR:
// a transfer the restart cut is not "transmitted", and once the station scans again it
// probes the controller, sends the set-up string and selects the port it was on.
#include <gtest/gtest.h>

#include <functional>

#include "support/station_fixture.hpp"
#include "text_lines.hpp"

namespace shoplink::testing {
namespace {

std::string program_of(int lines) {
  std::string out = "O3100\r\n";
  for (int i = 1; i <= lines; ++i)
    out += "N" + std::to_string(i * 10) + " G01 X" + std::to_string(i) + ".5 Y-2.25\r\n";
  return out + "M30\r\n";
}

const std::string kProgram = program_of(300);  // about 11 s at 9600 baud

struct RestartRig {
  RestartRig() : f(dncdata()) {
    f.write_file("NC3/O3100", kProgram);
    sim::MachineConfig c = mill().config();
    c.program_gap = millis(20000);  // a held line does not split one program in two
    mill().configure(c);
  }
  static std::string dncdata() {
    std::vector<std::string> blocks;
    for (int k = 1; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
    blocks[2] = "4800 (MILL3)\n0\nUP3\nNC3\n";  // a rate the controller forgets
    return make_dncdata("COM1:9600", "", "SYSTEM.LOG", blocks);
  }
  sim::Machine& mill() { return f.shop.machine(3); }
  Station& s() { return f.s(); }
  sim::PortController& controller() { return f.shop.controller(); }
  // The power goes `after` from now, for `off`.
  void power_loss(Duration after, Duration off) {
    const Duration t = f.loop.now() - f.shop.start() + after;
    f.shop.at(t, [this] { controller().set_powered(false); });
    f.shop.at(t + off, [this] { controller().set_powered(true); });
  }
  // Runs `act` once `cond` holds, looked at every millisecond on the loop (also inside the
  // handlers a transfer runs in).
  void when(std::function<bool()> cond, std::function<void()> act) {
    f.loop.post_after(millis(1), [this, cond, act] {
      if (cond())
        act();
      else
        when(cond, act);
    });
  }
  bool scanning(std::int64_t limit_ms = 60000) {
    return f.run_until(
        [&] { return s().mode == Mode::Scanning && s().Timer2.enabled() && s().receiving == 0; },
        limit_ms);
  }
  // TO3100 and the machine's cycle start; true when it received the program whole.
  bool request() {
    const auto before = mill().programs().size();
    mill().send_command("TO3100");
    if (!f.run_until([&] { return s().mode == Mode::Sending && s().port == 3; }, 60000))
      return false;
    mill().send_xon();
    if (!f.run_until(
            [&] { return mill().programs().size() > before && mill().programs().back().complete; },
            120000))
      return false;
    return mill().programs().back().lines() == sim::significant_lines(kProgram);
  }
  bool log_has(const std::string& part) const {
    for (const auto& m : f.log_messages())
      if (m.find(part) != std::string::npos) return true;
    return false;
  }
  StationFixture f;
};

struct Restart {
  const char* name;
  std::function<void(RestartRig&)> story;  // up to and through the power loss
  bool transfer_cut;                       // a transfer (or its Xon wait) was under way
};

const Restart kRestarts[] = {
    {"MidTransfer",
     [](RestartRig& r) {
       r.mill().send_command("TO3100");
       ASSERT_TRUE(r.f.run_until([&] { return r.s().mode == Mode::Sending; }, 20000));
       r.power_loss(millis(4000), millis(2000));
       r.mill().send_xon();
       r.f.advance_ms(30000);
     },
     true},
    {"WaitingForXon",
     [](RestartRig& r) {
       r.mill().send_command("TO3100");
       ASSERT_TRUE(r.f.run_until([&] { return r.s().mode == Mode::Sending; }, 20000));
       r.power_loss(millis(500), millis(1500));
       r.f.advance_ms(3000);
       r.mill().send_xon();  // cycle start pressed only now
       r.f.advance_ms(30000);
     },
     true},
    // The last 60 characters go out after the restart, before the next display tick could
    // look (held off here): only the transfer's own end sees it.
    {"JustBeforeTheEnd",
     [](RestartRig& r) {
       r.mill().send_command("TO3100");
       ASSERT_TRUE(r.f.run_until([&] { return r.s().mode == Mode::Sending; }, 20000));
       r.when([&] { return r.mill().received_bytes().size() + 60 >= kProgram.size(); },
              [&] {
                r.s().Timer5.stop();
                r.power_loss(millis(0), millis(100));
              });
       r.mill().send_xon();
       ASSERT_TRUE(
           r.f.run_until([&] { return !r.s().Timer5.enabled() && r.s().sending == 0; }, 30000));
       r.s().Timer5.start();
       r.f.advance_ms(5000);
     },
     true},
    {"WhileScanning",
     [](RestartRig& r) {
       r.power_loss(millis(1000), millis(2000));
       r.f.advance_ms(10000);
     },
     false},
};

void PrintTo(const Restart& r, std::ostream* os) {
  *os << r.name;
}

class ControllerRestart : public ::testing::TestWithParam<Restart> {};

TEST_P(ControllerRestart, IsSeenNothingCutIsTransmittedAndTheControllerIsSetUpAgain) {
  const Restart& c = GetParam();
  RestartRig r;
  r.f.start();
  ASSERT_EQ(r.controller().params(3).baud_code, 7);
  c.story(r);
  ASSERT_TRUE(r.scanning()) << "no return to scanning";
  const auto log = ::testing::PrintToString(r.f.log_messages());
  EXPECT_EQ(r.controller().restarts(), 1);
  EXPECT_EQ(r.s().controller_restarts, 1);
  EXPECT_TRUE(r.log_has("Port controller restarted (DSR off and on again)")) << log;
  EXPECT_FALSE(r.log_has("O3100 transmitted")) << log;
  EXPECT_EQ(r.log_has("Port controller restarted .. File not sent"), c.transfer_cut) << log;
  // Set up again: port 3 runs at its 4800 baud once more, and the port the station was on
  // is selected right after the set-up string.
  ASSERT_TRUE(r.f.run_until([&] { return r.log_has("set up again after its restart"); }, 2000))
      << log;
  EXPECT_EQ(r.controller().params(3).baud_code, 7);
  EXPECT_EQ(r.controller().setup_blocks(), 16);
  const std::string port = c.transfer_cut ? "3" : "";
  EXPECT_TRUE(r.log_has("Port controller set up again after its restart, port " + port)) << log;
  const std::string sent = r.controller().from_host();
  const std::string end_of_setup = std::string("\x14") + "1\x14Q\x14J\x14";
  int setups = 0;
  for (auto p = sent.find(end_of_setup); p != std::string::npos; p = sent.find(end_of_setup, p + 1))
    ++setups;
  EXPECT_EQ(setups, 2);  // at start-up and after the restart
  if (c.transfer_cut) {
    EXPECT_NE(sent.find(end_of_setup + "3\x14Q"), std::string::npos);
  }
  // And the machine is served whole (once what it got before has ended as a program).
  r.f.advance_ms(25000);
  EXPECT_TRUE(r.request()) << ::testing::PrintToString(r.f.log_messages());
  EXPECT_TRUE(r.log_has("O3100 transmitted"));
}

INSTANTIATE_TEST_SUITE_P(Shop, ControllerRestart, ::testing::ValuesIn(kRestarts),
                         [](const auto& info) { return std::string(info.param.name); });

// A cable without DSR (three wires and CTS): the same short power loss leaves nothing the
// station can tell from a machine port's flow control. The measurement behind the README's
// limit: CTS was off for the loss, nothing else changed, and the cut transfer is logged as
// transmitted although the machine got only part of it.
TEST(ControllerRestartLimit, WithoutDsrAShortPowerLossIsNotSeen) {
  RestartRig r;
  r.f.shop.line().set_dsr_wired(false);
  r.f.start();
  r.mill().send_command("TO3100");
  ASSERT_TRUE(r.f.run_until([&] { return r.s().mode == Mode::Sending; }, 20000));
  r.power_loss(millis(4000), millis(2000));
  r.mill().send_xon();
  r.f.advance_ms(30000);
  ASSERT_TRUE(r.scanning());
  EXPECT_EQ(r.s().controller_restarts, 0);
  EXPECT_TRUE(r.log_has("O3100 transmitted"));
  ASSERT_EQ(r.mill().programs().size(), 1u);
  const auto got = r.mill().programs().front().lines().size();
  EXPECT_LT(got, sim::significant_lines(kProgram).size());
  std::cout << "without DSR: the machine got " << got << " of "
            << sim::significant_lines(kProgram).size() << " lines; logged transmitted\n";
}

}  // namespace
}  // namespace shoplink::testing
