// An hour of eight busy machines against the station on virtual time: everything checked as
// it happens (see support/soak_shop.hpp); `make soak` runs the same shop for a day.
#include <gtest/gtest.h>

#include "support/soak_shop.hpp"

namespace shoplink::testing {
namespace {

#if defined(SHOPLINK_SANITIZED)
constexpr double kHours = 0.25;  // a quarter of the hour: the sanitizers slow it tenfold
#else
constexpr double kHours = 1.0;
#endif

// Each seed gives the machines other choices and other timings; an hour of one takes about
// a second of wall time.
class Soak : public ::testing::TestWithParam<unsigned> {};

TEST_P(Soak, AnHourOfEightBusyMachinesLosesNothing) {
  SoakShop shop(GetParam());
  const SoakFigures fig = shop.run(kHours);
  const auto at_least = [](int n) { return static_cast<long>(n * kHours); };
  for (const auto& f : fig.failures) ADD_FAILURE() << f;
  // Every kind of activity happened, on every port, more than once.
  EXPECT_GE(fig.requests, at_least(40));
  EXPECT_GE(fig.uploads, at_least(20));
  EXPECT_GE(fig.events, at_least(20));
  EXPECT_GE(fig.not_found, at_least(5));
  EXPECT_GE(fig.listings, at_least(3));
  EXPECT_GE(fig.queued, at_least(2));
  EXPECT_GT(fig.xoffs, 0);
  EXPECT_LE(fig.log_max, fig.log_limit);
  if (kHours >= 1) {
    EXPECT_GT(fig.log_max, fig.log_limit * 3 / 4) << "the log never came near its limit";
  }
  EXPECT_LT(fig.longest_away_ms, 5 * 60 * 1000);
  EXPECT_TRUE(fig.fds_flat()) << [&] {
    std::string out;
    for (const auto& s : fig.samples)
      out += std::to_string(s.hour) + "h " + std::to_string(s.fds) + " fds\n";
    return out;
  }();
#if !defined(SHOPLINK_SANITIZED)
  // The allocator's quarantine grows under ASan; elsewhere the process stays flat.
  EXPECT_LT(fig.rss_growth_kb_per_hour(), 1024.0);
#endif
}

#if defined(SHOPLINK_SANITIZED)
INSTANTIATE_TEST_SUITE_P(Seeds, Soak, ::testing::Values(1u));
#else
INSTANTIATE_TEST_SUITE_P(Seeds, Soak, ::testing::Values(1u, 2u, 3u, 4u));
#endif

}  // namespace
}  // namespace shoplink::testing
