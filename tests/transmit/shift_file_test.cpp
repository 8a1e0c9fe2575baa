// The SABLE CARBON shift files: named by the shift's first day, switched by the scan at a
// shift change, also during the hours after midnight and across month and year ends.
#include "transmit/shift_file.hpp"

#include <gtest/gtest.h>

#include "support/station_fixture.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

int hhmmss(const LocalTime& t) {
  return t.hour * 10000 + t.minute * 100 + t.second;
}

struct Naming {
  LocalTime at;
  const char* file;
};

const Naming kNaming[] = {
    {{2026, 12, 7, 6, 59, 59}, "12-06-26.003"},  // the night shift began the evening before
    {{2026, 12, 7, 7, 0, 0}, "12-07-26.001"},
    {{2026, 12, 7, 14, 59, 59}, "12-07-26.001"},
    {{2026, 12, 7, 15, 0, 0}, "12-07-26.002"},
    {{2026, 12, 7, 22, 59, 59}, "12-07-26.002"},
    {{2026, 12, 7, 23, 0, 0}, "12-07-26.003"},
    {{2026, 12, 8, 0, 0, 0}, "12-07-26.003"},
    {{2026, 12, 15, 2, 30, 0}, "12-14-26.003"},
    {{2026, 12, 1, 2, 30, 0}, "11-30-26.003"},  // first of a month: the month before
    {{2027, 1, 1, 0, 10, 0}, "12-31-26.003"},   // and of a year: the year before
    {{2028, 3, 1, 1, 0, 0}, "02-29-28.003"},    // leap year
    {{2026, 12, 9, 23, 59, 59}, "12-09-26.003"},
};

TEST(ShiftFile, NamedByTheDayTheShiftBegan) {
  for (const auto& n : kNaming)
    EXPECT_EQ(shift_file_at(n.at), n.file) << n.at.month << "/" << n.at.day << " " << hhmmss(n.at);
}

// Start-up, and each scan pass through a shift change: the station runs on virtual time
// from a few seconds before the change.
struct ShiftChange {
  LocalTime start;
  int last_second;  // hhmmss of the old shift's last second
  const char* before;
  const char* after;
};

const ShiftChange kChanges[] = {
    {{2026, 12, 7, 6, 59, 50}, 65959, "12-06-26.003", "12-07-26.001"},
    {{2026, 12, 7, 14, 59, 50}, 145959, "12-07-26.001", "12-07-26.002"},
    {{2026, 12, 7, 22, 59, 50}, 225959, "12-07-26.002", "12-07-26.003"},
    // midnight is no shift change: the night shift keeps its file
    {{2026, 11, 30, 23, 59, 50}, 235959, "11-30-26.003", "11-30-26.003"},
};

TEST(ShiftFile, TheScanSwitchesWithinOnePassOfTheShiftChange) {
  for (const auto& c : kChanges) {
    SCOPED_TRACE(c.last_second);
    StationFixture f;
    f.clock.set_local(c.start);
    f.write_file("CUSTOMER", "Sable Carbon Corp.\r\nSt. Marys, PA\r\n");
    f.start();
    EXPECT_EQ(f.s().ShiftFile, c.before);
    ASSERT_TRUE(f.run_until([&] { return hhmmss(f.clock.local_now()) == c.last_second; }, 20000));
    f.advance_ms(999);
    EXPECT_EQ(f.s().ShiftFile, c.before);
    // One pass of eight ports at 100 ms takes 800 ms.
    f.advance_ms(1001);
    EXPECT_EQ(f.s().ShiftFile, c.after);
  }
}

TEST(ShiftFile, OtherSitesNameNoShiftFile) {
  StationFixture f;
  f.write_file("CUSTOMER", "Sable Tool\r\n");
  f.start();
  f.advance_ms(2000);
  EXPECT_EQ(f.s().ShiftFile, "");
}

}  // namespace
}  // namespace shoplink
