// The pacer's schedule on its own clock: bursts sized to the line rate, none while one is
// still on the line, the beat kept for a writer a little late, and never more than a burst
// (plus a character of lateness) ahead of the line.
#include "base/line_pacer.hpp"

#include <gtest/gtest.h>

namespace shoplink {
namespace {

using namespace std::chrono_literals;

const TimePoint t0 = TimePoint{} + 10s;

TEST(LinePacer, TheBurstIsAFewMillisecondsOfLineTimeAndAtMostThreeCharacters) {
  struct Case {
    long baud;
    std::size_t burst;
  } cases[] = {{1200, 1}, {4800, 1}, {9600, 3}, {19200, 3}, {115200, 3}, {0, 3}};
  for (const auto& c : cases) {
    LinePacer p;
    p.set_baud(c.baud);
    EXPECT_EQ(p.burst(), c.burst) << c.baud;
    EXPECT_EQ(p.room(t0), c.burst) << c.baud;
  }
}

TEST(LinePacer, NothingMoreUntilTheBurstHasGone) {
  LinePacer p;
  p.set_baud(9600);
  const Duration ct = p.char_time();
  EXPECT_EQ(p.take(t0, 100), 3u);
  EXPECT_EQ(p.on_wire(t0), 3);
  EXPECT_EQ(p.next_slot(), t0 + 3 * ct);
  for (const Duration later : {Duration::zero(), ct, 3 * ct - 1ns}) {
    EXPECT_EQ(p.room(t0 + later), 0u);
    EXPECT_EQ(p.take(t0 + later, 1), 0u);
  }
  EXPECT_EQ(p.room(t0 + 3 * ct), 3u);
  EXPECT_EQ(p.on_wire(t0 + 3 * ct), 0);
}

TEST(LinePacer, AWriterLessThanACharacterLateKeepsTheBeat) {
  LinePacer p;
  p.set_baud(9600);
  const Duration ct = p.char_time();
  TimePoint now = t0;
  std::size_t sent = 0;
  // Wakes 0.9 characters late every time: the bursts are timed from when the line ran
  // dry, so after 100 bursts the line has been busy all along.
  for (int i = 0; i < 100; ++i) {
    sent += p.take(now, 100);
    EXPECT_LE(p.on_wire(now), 3);  // at most a burst ahead of the line's schedule
    now = p.next_slot() + ct * 9 / 10;
  }
  EXPECT_EQ(sent, 300u);
  EXPECT_LE(p.next_slot() - t0, 300 * ct);
  EXPECT_GE(p.next_slot() - t0, 300 * ct - ct);
}

TEST(LinePacer, AnIdleLineStartsAfreshWithoutCatchingUp) {
  LinePacer p;
  p.set_baud(9600);
  const Duration ct = p.char_time();
  ASSERT_EQ(p.take(t0, 3), 3u);
  const TimePoint late = p.next_slot() + 5 * ct;
  EXPECT_EQ(p.take(late, 100), 3u);  // a burst, not the five characters missed
  EXPECT_EQ(p.next_slot(), late + 3 * ct);
}

TEST(LinePacer, ShortWritesAndGivenBackCharactersKeepTheCount) {
  LinePacer p;
  p.set_baud(9600);
  const Duration ct = p.char_time();
  EXPECT_EQ(p.take(t0, 2), 2u);  // a line's last two characters
  EXPECT_EQ(p.room(t0 + ct), 0u);
  p.give_back(2);  // the device took none of them
  EXPECT_EQ(p.on_wire(t0), 0);
  EXPECT_EQ(p.take(t0, 100), 3u);
  p.reset();
  EXPECT_EQ(p.room(t0), 3u);
}

}  // namespace
}  // namespace shoplink
