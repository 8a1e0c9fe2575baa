// The host line's flow per port as the many-lines benchmark reads it: the rate of the
// station's characters with the machine's holds left out, and the most that still came after
// an Xoff before its Xon.
#include "host_flow.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace shoplink::sim {
namespace {

struct Step {
  int at_ms;
  int port;
  int to_host;  // -1: a character from the station; else the byte handed up
};

struct FlowCase {
  const char* name;
  std::vector<Step> steps;
  long chars;
  int xoffs;
  int most_after;
  double rate;  // characters a second while not held
};

// Characters from the station every millisecond for `n` ms from `from_ms`.
std::vector<Step> chars(int from_ms, int n, int port = 1) {
  std::vector<Step> v;
  for (int i = 0; i < n; ++i) v.push_back({from_ms + i, port, -1});
  return v;
}
std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Flow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(Flow, RateAndCharactersAfterAnXoff) {
  const FlowCase& c = GetParam();
  HostFlow flow;
  for (const Step& s : c.steps) {
    const TimePoint at = TimePoint{} + std::chrono::milliseconds(s.at_ms);
    if (s.to_host < 0)
      flow.from_host(s.port, at);
    else
      flow.to_host(s.port, static_cast<std::uint8_t>(s.to_host), at);
  }
  const PortFlow& f = flow.port(1);
  EXPECT_EQ(f.chars, c.chars);
  EXPECT_EQ(f.xoffs, c.xoffs);
  EXPECT_EQ(f.most_after_xoff, c.most_after);
  EXPECT_NEAR(f.rate(), c.rate, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Flow,
    ::testing::Values(
        FlowCase{"Steady", chars(0, 101), 101, 0, 0, 1000},
        // Xoff at 50 ms, three more came, Xon at 300 ms, the next character at 800 ms: the
        // hold from 50 to 800 ms is left out of the 847 ms.
        FlowCase{"HeldOnce",
                 chars(0, 50) + std::vector<Step>{{50, 1, 0x13}} + chars(50, 3) +
                     std::vector<Step>{{300, 1, 0x11}} + chars(800, 48),
                 101, 1, 3, 100 / 0.097},
        // With its parity bit (0x93, 0x91) it is the same Xoff and Xon; the most after one
        // counts per hold.
        FlowCase{"ParityBitsTwoHolds",
                 chars(0, 10) + std::vector<Step>{{10, 1, 0x93}} + chars(10, 1) +
                     std::vector<Step>{{20, 1, 0x91}} + chars(30, 10) +
                     std::vector<Step>{{40, 1, 0x93}} + chars(40, 4) +
                     std::vector<Step>{{50, 1, 0x91}} + chars(60, 5),
                 30, 2, 4, 29 / 0.024},
        // Another port's Xoff and the station's characters for another port count there.
        FlowCase{"OtherPort", chars(0, 11) + std::vector<Step>{{5, 2, 0x13}} + chars(5, 20, 2), 11,
                 0, 0, 1000},
        // An Xon without an Xoff (the machine's start signal) holds nothing.
        FlowCase{"XonAlone", std::vector<Step>{{0, 1, 0x11}} + chars(1, 11), 11, 0, 0, 1000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace shoplink::sim
