// The pacer's schedule on its own clock: bursts of four characters, none while one is still
// on the line, the beat kept for a writer a little late, and never more than a burst ahead of
// the line.
#include "base/line_pacer.hpp"

#include <gtest/gtest.h>

namespace shoplink {
namespace {

using namespace std::chrono_literals;

const TimePoint t0 = TimePoint{} + 10s;

TEST(LinePacer, TheBurstIsFourCharactersAtEveryRate) {
  for (const long baud : {110L, 1200L, 4800L, 9600L, 19200L, 115200L, 0L}) {
    LinePacer p;
    p.set_baud(baud);
    EXPECT_EQ(p.burst(), 4u) << baud;
    EXPECT_EQ(p.room(t0), 4u) << baud;
    EXPECT_EQ(p.char_time(), Duration(10'000'000'000LL / (baud > 0 ? baud : 9600))) << baud;
  }
}

TEST(LinePacer, NeverMoreThanABurstAheadOfTheLine) {
  LinePacer p;
  p.set_baud(9600);
  const Duration ct = p.char_time();
  EXPECT_EQ(p.take(t0, 100), 4u);
  EXPECT_EQ(p.on_wire(t0), 4);
  EXPECT_EQ(p.next_slot(), t0 + 4 * ct);
  // Room comes back a character at a time as the line sends them.
  struct Case {
    Duration later;
    std::size_t room;
  } cases[] = {{Duration::zero(), 0}, {ct - 1ns, 0}, {ct, 1}, {3 * ct - 1ns, 2}, {4 * ct, 4}};
  for (const auto& c : cases) EXPECT_EQ(p.room(t0 + c.later), c.room) << c.later.count();
  EXPECT_EQ(p.take(t0 + ct - 1ns, 1), 0u);
  EXPECT_EQ(p.on_wire(t0 + 4 * ct), 0);
}

TEST(LinePacer, AShortWriteLeavesTheRestOfTheBurstToTheNext) {
  LinePacer p;
  p.set_baud(9600);
  const Duration ct = p.char_time();
  EXPECT_EQ(p.take(t0, 1), 1u);  // a program line's last character
  EXPECT_EQ(p.room(t0 + ct / 2), 3u);
  EXPECT_EQ(p.take(t0 + ct / 2, 100), 3u);  // the next line's first three, at once
  EXPECT_EQ(p.next_slot(), t0 + 4 * ct);
  EXPECT_EQ(p.on_wire(t0 + ct / 2), 4);
  EXPECT_EQ(p.room(t0 + ct / 2), 0u);
}

TEST(LinePacer, AWriterLessThanACharacterLateKeepsTheBeatButNeverGetsMoreThanABurst) {
  // Late by 0.9 of a character every time, or exactly one (the most the beat forgives): the
  // bursts are timed from when the line ran dry, so after 100 bursts the line has been busy
  // all along, and no burst grows to make up the lateness.
  for (const int tenths : {9, 10}) {
    LinePacer p;
    p.set_baud(9600);
    const Duration ct = p.char_time();
    TimePoint now = t0;
    std::size_t sent = 0;
    for (int i = 0; i < 100; ++i) {
      EXPECT_LE(p.room(now), 4u) << tenths;
      sent += p.take(now, 100);
      EXPECT_LE(p.on_wire(now), 4) << tenths;  // at most a burst ahead of the line's schedule
      now = p.next_slot() + ct * tenths / 10;
    }
    EXPECT_EQ(sent, 400u) << tenths;
    EXPECT_LE(p.next_slot() - t0, 400 * ct) << tenths;
    EXPECT_GE(p.next_slot() - t0, 400 * ct - ct) << tenths;
  }
}

TEST(LinePacer, AnIdleLineStartsAfreshWithoutCatchingUp) {
  LinePacer p;
  p.set_baud(9600);
  const Duration ct = p.char_time();
  ASSERT_EQ(p.take(t0, 4), 4u);
  const TimePoint late = p.next_slot() + 5 * ct;
  EXPECT_EQ(p.take(late, 100), 4u);  // a burst, not the five characters missed
  EXPECT_EQ(p.next_slot(), late + 4 * ct);
}

TEST(LinePacer, ShortWritesAndGivenBackCharactersKeepTheCount) {
  LinePacer p;
  p.set_baud(9600);
  const Duration ct = p.char_time();
  EXPECT_EQ(p.take(t0, 2), 2u);  // a line's last two characters
  EXPECT_EQ(p.room(t0), 2u);
  EXPECT_EQ(p.room(t0 + ct), 3u);
  p.give_back(2);  // the device took none of them
  EXPECT_EQ(p.on_wire(t0), 0);
  EXPECT_EQ(p.take(t0, 100), 4u);
  p.reset();
  EXPECT_EQ(p.room(t0), 4u);
}

}  // namespace
}  // namespace shoplink
