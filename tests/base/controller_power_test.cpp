// The port controller's power read from DSR: which sequences of DSR readings and DTR
// changes are a restart.
#include "base/controller_power.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace shoplink {
namespace {

struct Step {
  int at_ms;
  char what;  // 'R' DSR read on, 'r' read off, 'D' DTR on, 'd' DTR off
};
struct PowerCase {
  const char* name;
  std::vector<Step> steps;
  int restarts;
};

const PowerCase kCases[] = {
    {"OffAndOnWithDtrOn", {{0, 'D'}, {0, 'R'}, {2000, 'r'}, {2500, 'R'}}, 1},
    {"TwiceIsTwo", {{0, 'D'}, {0, 'R'}, {2000, 'r'}, {2500, 'R'}, {5000, 'r'}, {6000, 'R'}}, 2},
    {"OffOnly", {{0, 'D'}, {0, 'R'}, {2000, 'r'}, {2500, 'r'}}, 0},
    {"NeverOnBefore", {{0, 'D'}, {0, 'r'}, {2000, 'R'}, {3000, 'R'}}, 0},  // DSR not wired
    {"FellWhileDtrOff",
     {{0, 'D'}, {0, 'R'}, {2000, 'd'}, {2001, 'r'}, {2100, 'D'}, {2101, 'R'}},
     0},
    {"FellJustAfterDtrOn", {{0, 'd'}, {0, 'R'}, {2000, 'D'}, {2300, 'r'}, {2400, 'R'}}, 0},
    {"FellOnceDtrSettled", {{0, 'd'}, {0, 'R'}, {2000, 'D'}, {3100, 'r'}, {3200, 'R'}}, 1},
    {"DtrOffWhileOffStillARestart",
     {{0, 'D'}, {0, 'R'}, {2000, 'r'}, {2100, 'd'}, {2200, 'D'}, {2300, 'R'}},
     1},
};

class Power : public ::testing::TestWithParam<PowerCase> {};

TEST_P(Power, RestartsAreDsrReturnsAfterAFallWithDtrSettledOn) {
  ControllerPower p;
  int restarts = 0;
  for (const Step& st : GetParam().steps) {
    const TimePoint t{std::chrono::milliseconds(st.at_ms)};
    if (st.what == 'D' || st.what == 'd')
      p.dtr_changed(st.what == 'D', t);
    else
      restarts += p.seen(st.what == 'R', t) ? 1 : 0;
  }
  EXPECT_EQ(restarts, GetParam().restarts);
}

INSTANTIATE_TEST_SUITE_P(Sequences, Power, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace shoplink
