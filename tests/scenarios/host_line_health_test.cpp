// The host line in trouble and the scan tick's housekeeping: a line that takes no output,
// a line that chatters through the probe, stale input, character pacing and the input
// display's trim.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/character_output.hpp"
#include "station/host_line_watch.hpp"
#include "station/port_scan.hpp"
#include "station/scanning_cycle.hpp"
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
  EXPECT_EQ(logged(dead), 0);        // a while is not yet a long time
  EXPECT_EQ(window.status(), dead);  // but a device that refuses output is shown dead at once
  loop.advance_ms(2000);
  EXPECT_EQ(window.status(), dead);
  loop.advance_ms(60000);
  EXPECT_EQ(logged(dead), 1);

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

// Each return to scanning asks the next tick to discard what waited on the line; without
// that request waiting input holds the tick on its port.
TEST_F(LineHealth, TheScanTickDiscardsStaleInputOnce) {
  struct Case {
    bool dump;
    const char* waiting;
    const char* left;
    bool moved_on;
  } cases[] = {
      {true, "stale", "", true},
      {false, "news", "news", false},
      {true, "", "", true},
      {false, "", "", true},
  };
  for (const auto& c : cases) {
    line.open();
    s.stopscanning = 0;
    s.port = 2;
    s.dump_RX_buffer = c.dump;
    line.input = c.waiting;
    Timer2_Timer(s);
    EXPECT_EQ(line.input, c.left) << c.waiting;
    EXPECT_FALSE(s.dump_RX_buffer);
    EXPECT_EQ(s.port, c.moved_on ? 3 : 2) << c.waiting;
  }
}

// CD= pauses after every character: (CD x 100 + 1) steps of 10 microseconds.
TEST_F(LineHealth, CharacterDelayPacesEachCharacter) {
  struct Case {
    int cd;
    std::int64_t us;
  } cases[] = {{0, 0}, {1, 3 * 1010}, {3, 3 * 3010}, {20, 3 * 20010}};
  line.open();
  s.port = 1;
  for (const auto& c : cases) {
    s.cur().char_delay = c.cd;
    line.written.clear();
    const TimePoint before = loop.now();
    sendchar(s, "ABC");
    EXPECT_EQ(line.written, "ABC");
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(loop.now() - before).count(),
              c.us)
        << "CD=" << c.cd;
  }
}

// The input display keeps the last 1024 characters.
TEST_F(LineHealth, TheInputDisplayKeepsItsLast1024Characters) {
  for (std::size_t n : {0u, 1023u, 1024u, 1025u, 5000u}) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += static_cast<char>('A' + i % 26);
    s.inputtext = text;
    Timer5_Timer(s);
    const std::string kept = text.substr(text.size() - std::min<std::size_t>(n, 1024));
    EXPECT_EQ(s.inputtext, kept) << n;
    EXPECT_EQ(window.text(Field::Input), kept) << n;
  }
}

}  // namespace
}  // namespace shoplink
