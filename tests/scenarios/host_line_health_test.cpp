// The host line in trouble: a line that takes no output, a line that chatters through the
// probe.
#include <gtest/gtest.h>

#include <algorithm>

#include "station/host_line_watch.hpp"
#include "station/port_scan.hpp"
#include "station/startup.hpp"
#include "support/line_station.hpp"
#include "support/station_fixture.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

struct LineHealth : ::testing::Test, testing::LineStation<> {
  LineHealth() { dir.write("DNCDATA", "COM1:9600\r\n\r\nSYSTEM.LOG\r\n9600 (LATHE)\r\n0\r\n"); }
  // Start-up, the probe answered, the purge: the station scans.
  void scanning() {
    line.input = "OK*\r\n";
    startup(s);
    loop.advance_ms(7000);
    ASSERT_EQ(window.status(), " Scanning... ");
  }
  long logged(const std::string& message) const {
    const auto m = log_messages();
    return std::count(m.begin(), m.end(), message);
  }
};

TEST_F(LineHealth, ALineThatTakesNoOutputIsReportedOnceAndItsRecoveryLogged) {
  scanning();
  const std::string dead = "Host line COM1 dead - output not taken (Input/output error)";
  line.held = 12;
  line.error = "Input/output error";
  loop.advance_ms(29000);
  EXPECT_EQ(logged(dead), 0);  // a while is not yet a long time
  loop.advance_ms(2000);
  EXPECT_EQ(window.status(), dead);
  loop.advance_ms(60000);
  EXPECT_EQ(logged(dead), 1);
  EXPECT_EQ(std::count(window.statuses.begin(), window.statuses.end(), dead), 1);

  line.held = 0;
  line.error.clear();
  loop.advance_ms(300);
  EXPECT_EQ(logged("Host line COM1 takes output again"), 1);
  // A later stall (output held, no error) is a new one.
  line.held = 4;
  loop.advance_ms(31000);
  EXPECT_EQ(logged("Host line COM1 dead - output not taken"), 1);
}

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
