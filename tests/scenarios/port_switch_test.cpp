// A machine that starts its command just as the scan tick leaves its port. The controller
// passes that port's bytes up until it has taken the whole select string (four characters),
// and then at once passes up what the next port's machine sent meanwhile: the two meet on
// the host line with nothing between them. Bytes of the port being left that were on the
// wire at the tick, or left the controller while the select string was going out, reach the
// station after it has moved on; the rest of the command waits in the controller until the
// next pass. Every command must still be served, whole, for the machine that sent it.
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
  int lead_us;  // how long before the tick that leaves port 3 the machine starts sending
};

// Test names (and so the CTest names) read the case, never its bytes.
void PrintTo(const SwitchCase& c, std::ostream* os) {
  *os << c.command << " " << c.lead_us << " us before the tick";
}

// Runs one case; `hold_ms` > 0 writes a scan rate file whose second line holds each machine
// that long (Xoff) before the tick leaves its port.
void served_for_its_own_machine(const SwitchCase& c, int hold_ms) {
  StationFixture f;
  if (hold_ms > 0) f.write_file("Scanrate", "100\r\n" + std::to_string(hold_ms) + "\r\n");
  f.start();
  Station& s = f.s();
  // The tick that selects port 3; the next one leaves it one scan interval later.
  ASSERT_TRUE(f.run_until([&] { return s.port == 3; }, 2000));
  const Duration leave = f.loop.now().time_since_epoch() + millis(s.Timer2.interval());
  f.shop.at(leave - std::chrono::microseconds(c.lead_us),
            [&] { f.shop.machine(3).send_command(c.command); });
  f.advance_ms(5000);
  const std::string want = std::string("Port 3 - ASCII command received: <") + c.command + ">";
  int mine = 0, others = 0;
  for (const auto& m : f.log_messages()) {
    if (m == want)
      ++mine;
    else if (m.find("command received") != std::string::npos)
      ++others;
  }
  EXPECT_EQ(mine, 1) << c.command << ", lead " << c.lead_us << " us";
  EXPECT_EQ(others, 0) << c.command << ", lead " << c.lead_us << " us";
}

class PortSwitch : public ::testing::TestWithParam<SwitchCase> {};

// With the hold the machine is stopped before the select goes out, and what it sent up to
// then keeps the scan on its port.
TEST_P(PortSwitch, AHeldSwitchServesTheCommandForItsOwnMachine) {
  served_for_its_own_machine(GetParam(), 10);
}

// KNOWN FAULT, disabled: without the hold (no second line in the scan rate file, the
// default) a command that starts within about five character times of the tick is split by
// the switch: its head is taken as the next port's command and dropped on the receive
// time-out (or, when short, served for the next port's machine), and its end is read on the
// next pass as a stray block. The station cannot tell the two ports' bytes apart: nothing
// on the line marks where the port being left ends and the next port's begins.
TEST_P(PortSwitch, DISABLED_AnUnheldSwitchServesTheCommandForItsOwnMachine) {
  served_for_its_own_machine(GetParam(), 0);
}

INSTANTIATE_TEST_SUITE_P(AroundTheTick, PortSwitch,
                         ::testing::Values(SwitchCase{"TO1234", 5000}, SwitchCase{"TO1234", 1500},
                                           SwitchCase{"TO1234", 1000}, SwitchCase{"TO1234", 0},
                                           SwitchCase{"TO1234", -2000}, SwitchCase{"TO1234", -6000},
                                           SwitchCase{"S", 1000}, SwitchCase{"S", -1000}),
                         [](const ::testing::TestParamInfo<SwitchCase>& i) {
                           const int us = i.param.lead_us;
                           return std::string(i.param.command) + (us < 0 ? "_after_" : "_before_") +
                                  std::to_string(us < 0 ? -us : us) + "us";
                         });

}  // namespace
}  // namespace shoplink
