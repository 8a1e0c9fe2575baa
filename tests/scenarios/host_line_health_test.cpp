// The host line in trouble: a line that chatters through the probe.
#include <gtest/gtest.h>

#include <algorithm>

#include "station/port_scan.hpp"
#include "support/station_fixture.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

// A controller (or a line) that never stops sending after the probe: the answer is kept to
// its limit and the wait ends once that is full, instead of lasting as long as the chatter.
TEST(LineHealthScenario, AChatteringLineEndsTheProbeWaitAndStaysBounded) {
  StationFixture f;
  std::vector<std::string> pieces{"OK*\r\n"};
  for (int i = 0; i < 300; ++i) pieces.push_back("chatter chatter ...\r\n");  // 30 s of it
  f.shop.controller().set_answer_pieces(pieces, millis(100));
  Station& s = f.s();
  // The probe waits inside the scan's own tick: look at the answer from the loop meanwhile.
  std::size_t longest = 0;
  for (int ms = 3000; ms < 40000; ms += 50)
    f.shop.at(millis(ms), [&] {
      if (s.mode == Mode::ControllerAnswer) longest = std::max(longest, s.rx_string.size());
    });
  f.startup_only();
  ASSERT_TRUE(f.run_until([&] { return s.Timer9.enabled() || !f.dialogs.boxes.empty(); }, 60000));
  EXPECT_TRUE(f.dialogs.boxes.empty());  // the answer had its asterisk: the scan goes on
  EXPECT_LT(f.loop.now().time_since_epoch(), millis(3000 + 5000));
  EXPECT_GT(longest, 0u);
  EXPECT_LE(longest, kProbeAnswerLimit);
}

}  // namespace
}  // namespace shoplink
