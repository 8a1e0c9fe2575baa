// A machine that starts its command just as the scan tick leaves its port. The controller
// passes that port's bytes up until it has taken the whole select string (four characters),
// and then at once passes up what the next port's machine sent meanwhile: the two meet on
// the host line with nothing between them. Bytes of the port being left that were on the
// wire at the tick, or left the controller while the select string was going out, would reach
// the station after it has moved on, the rest of the command waiting in the controller until
// the next pass. Every command must still be served, whole, for the machine that sent it:
// the tick holds the controller's output with RTS over the switch (or, with a scan rate
// hold, the machine with Xoff).
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

#include "support/station_fixture.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

struct SwitchCase {
  const char* command;
  int hold_ms;             // > 0: a scan rate file holds each machine that long with Xoff
  bool next_port_waiting;  // port 4's machine sent a command while port 3 was selected
};

// Test names (and so the CTest names) read the case, never its bytes.
void PrintTo(const SwitchCase& c, std::ostream* os) {
  *os << c.command << (c.hold_ms > 0 ? " held" : " unheld")
      << (c.next_port_waiting ? ", port 4 waiting" : "");
}

// How often `command` was logged as received from `port`, and how many other commands were.
struct Received {
  int mine = 0, others = 0;
};
Received count(const StationFixture& f, int port, const std::string& command,
               const std::string& also_allowed) {
  const std::string want =
      "Port " + std::to_string(port) + " - ASCII command received: <" + command + ">";
  Received r;
  for (const auto& m : f.log_messages()) {
    if (m == want)
      ++r.mine;
    else if (m.find("command received") != std::string::npos && m != also_allowed)
      ++r.others;
  }
  return r;
}

// Port 3's machine starts its command `lead_us` before the tick that leaves port 3 (after it
// when negative).
void served_for_its_own_machine(const SwitchCase& c, int lead_us) {
  sim::ShopOptions shop;
  shop.controller.honour_host_rts = true;
  StationFixture f(testing::default_dncdata(), shop);
  if (c.hold_ms > 0) f.write_file("Scanrate", "100\r\n" + std::to_string(c.hold_ms) + "\r\n");
  f.start();
  Station& s = f.s();
  // The tick that selects port 3; the next one leaves it one scan interval later.
  ASSERT_TRUE(f.run_until([&] { return s.port == 3; }, 2000));
  const Duration leave = f.loop.now().time_since_epoch() + millis(s.Timer2.interval());
  if (c.next_port_waiting)
    f.shop.at(leave - millis(60), [&] { f.shop.machine(4).send_command("TO4444"); });
  f.shop.at(leave - std::chrono::microseconds(lead_us),
            [&] { f.shop.machine(3).send_command(c.command); });
  // Port 4's request (not found, and its machine sends no Xon) is served first.
  f.advance_ms(c.next_port_waiting ? 40000 : 8000);
  const std::string port4 = "Port 4 - ASCII command received: <TO4444>";
  const Received r = count(f, 3, c.command, c.next_port_waiting ? port4 : "");
  EXPECT_EQ(r.mine, 1) << c.command << ", lead " << lead_us << " us";
  EXPECT_EQ(r.others, 0) << c.command << ", lead " << lead_us << " us";
  if (c.next_port_waiting) {
    EXPECT_TRUE(f.logged(port4)) << c.command << ", lead " << lead_us << " us";
  }
}

class PortSwitch : public ::testing::TestWithParam<SwitchCase> {};

// From 12 ms before the tick to 12 ms after it, every half millisecond: the window where
// the command's head would be taken for the next port lies in there, whatever the hold.
TEST_P(PortSwitch, ServesTheCommandForItsOwnMachineWhenItStartsAtTheTick) {
  for (int lead_us = 12000; lead_us >= -12000; lead_us -= 500)
    served_for_its_own_machine(GetParam(), lead_us);
}

INSTANTIATE_TEST_SUITE_P(AroundTheTick, PortSwitch,
                         ::testing::Values(SwitchCase{"TO1234", 0, false},
                                           SwitchCase{"S", 0, false}, SwitchCase{"TO1234", 0, true},
                                           SwitchCase{"TO1234", 10, false},
                                           SwitchCase{"S", 10, true}),
                         [](const ::testing::TestParamInfo<SwitchCase>& i) {
                           const SwitchCase& c = i.param;
                           return std::string(c.command) + (c.hold_ms > 0 ? "_held" : "_unheld") +
                                  (c.next_port_waiting ? "_port4_waiting" : "");
                         });

}  // namespace
}  // namespace shoplink
