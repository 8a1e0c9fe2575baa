// A machine's day from the journal's rows: in cycle from a cycle start to its finish, down
// while the station is stopped, its line lost or a tool change holds the machine, idle
// otherwise; cycles counted on the day they finish, per program and per shift.
#include "web/activity_chart.hpp"

#include <gtest/gtest.h>

namespace shoplink {
namespace {

// A row of port 3 (or of the station, port 0) at "HH:MM:SS" of 2026-12-01 (or "-" the day
// before).
struct Row {
  const char* when;
  int port;
  const char* kind;
  const char* text = "";
};

struct DayCase {
  const char* name;
  std::vector<Row> rows;
  std::int64_t shown;
  std::int64_t in_cycle, idle, down;
  int cycles;
  std::vector<int> shift_cycles;  // with shifts 06:00, 14:00, 22:00
  const char* top_program = "";   // most cycles
  std::int64_t top_seconds = 0;
};
void PrintTo(const DayCase& c, std::ostream* os) {
  *os << c.name;
}

ActivityDay day_of(const DayCase& c) {
  ActivityRows rows;
  for (const Row& r : c.rows) {
    const std::string when = r.when[0] == '-' ? std::string("2026-11-30 ") + (r.when + 1)
                                              : std::string("2026-12-01 ") + r.when;
    EventRow e{when, r.port, "MILL3", r.kind, r.text};
    if (r.port == 0) {
      rows.station.push_back(e);
    } else if (std::string(r.kind) == "sent") {
      rows.programs.push_back(e);
    } else {
      rows.machines.push_back(e);
    }
  }
  std::array<std::string, NumPorts> names{};
  return activity_day("2026-12-01", rows, c.shown, {6 * 3600, 14 * 3600, 22 * 3600}, names);
}

const std::vector<DayCase> kDays = {
    {"OneCycleOfAProgram",
     {{"07:00:00", 0, "started"},
      {"07:30:00", 3, "sent", "/nc/O1"},
      {"08:00:00", 3, "cycle start"},
      {"08:10:00", 3, "cycle finish"}},
     9 * 3600,
     600,
     9 * 3600 - 7 * 3600 - 600,
     0,
     1,
     {1, 0, 0},
     "/nc/O1",
     600},
    {"ACycleFromYesterdayIsUnderWayAtMidnight",
     {{"-20:00:00", 0, "started"},
      {"-23:00:00", 3, "cycle start"},
      {"01:00:00", 3, "cycle finish"}},
     2 * 3600,
     3600,
     3600,
     0,
     1,
     {0, 0, 1},
     "",
     7200},
    {"AStationStopIsDownAndAbandonsTheCycle",
     {{"06:00:00", 0, "started"},
      {"06:10:00", 3, "cycle start"},
      {"06:20:00", 0, "stopping"},
      {"06:30:00", 0, "started"},
      {"06:40:00", 3, "cycle finish"}},
     7 * 3600,
     600,
     3600 - 1200,
     600,
     0,
     {0, 0, 0}},
    {"ALostLineAndAToolChangeAreDown",
     {{"00:00:00", 0, "started"},
      {"01:00:00", 0, "line lost"},
      {"01:05:00", 0, "line reconnected"},
      {"02:00:00", 3, "tool change stop"},
      {"02:15:00", 3, "tool change resume"}},
     3 * 3600,
     0,
     3 * 3600 - 1200,
     1200,
     0,
     {0, 0, 0}},
    {"AFinishWithoutAStartCountsNothing",
     {{"00:00:00", 0, "started"}, {"00:30:00", 3, "cycle finish"}},
     3600,
     0,
     3600,
     0,
     0,
     {0, 0, 0}},
    {"TheDayIsDrawnOnlyUntilNow",
     {{"00:00:00", 0, "started"}, {"00:50:00", 3, "cycle start"}, {"02:00:00", 3, "cycle finish"}},
     3600,
     600,
     3000,
     0,
     0,
     {0, 0, 0}},
};

class ActivityDayOf : public ::testing::TestWithParam<DayCase> {};

TEST_P(ActivityDayOf, CountsTheMachinesTime) {
  const DayCase& c = GetParam();
  const ActivityDay d = day_of(c);
  const MachineDay& m = d.machines[2];
  EXPECT_EQ(m.in_cycle, c.in_cycle);
  EXPECT_EQ(m.idle, c.idle);
  EXPECT_EQ(m.down, c.down);
  EXPECT_EQ(m.cycles, c.cycles);
  EXPECT_EQ(m.shift_cycles, c.shift_cycles);
  if (c.cycles > 0) {
    ASSERT_FALSE(m.programs.empty());
    EXPECT_EQ(m.programs[0].program, c.top_program);
    EXPECT_EQ(m.programs[0].seconds, c.top_seconds);
  }
  // Spans cover what is drawn without gaps or overlaps, from the first row on.
  std::int64_t no_data = 0;
  for (std::size_t i = 0; i < m.spans.size(); ++i) {
    EXPECT_EQ(m.spans[i].from, i == 0 ? 0 : m.spans[i - 1].to);
    if (m.spans[i].state == MachineState::NoData) no_data += m.spans[i].to - m.spans[i].from;
  }
  ASSERT_FALSE(m.spans.empty());
  EXPECT_EQ(m.spans.back().to, c.shown);
  EXPECT_EQ(no_data + m.in_cycle + m.idle + m.down, c.shown);
  // Another machine saw only the station's rows.
  EXPECT_EQ(d.machines[0].cycles, 0);
  EXPECT_EQ(d.machines[0].in_cycle, 0);
  // The chart is drawn, one row per machine.
  const std::string svg = activity_svg(d);
  EXPECT_EQ(svg.rfind("<svg", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Web, ActivityDayOf, ::testing::ValuesIn(kDays),
                         [](const ::testing::TestParamInfo<DayCase>& i) { return i.param.name; });

}  // namespace
}  // namespace shoplink
