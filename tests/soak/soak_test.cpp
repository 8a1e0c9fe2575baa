// An hour of eight busy machines against the station on virtual time: everything checked as
// it happens (see support/soak_shop.hpp); `make soak` runs the same shop for a day.
#include <gtest/gtest.h>

#include "support/soak_shop.hpp"

namespace shoplink::testing {
namespace {

TEST(Soak, AnHourOfEightBusyMachinesLosesNothing) {
  SoakShop shop(1);
  const SoakFigures fig = shop.run(1.0);
  for (const auto& f : fig.failures) ADD_FAILURE() << f;
  // Every kind of activity happened, on every port, more than once.
  EXPECT_GE(fig.requests, 40);
  EXPECT_GE(fig.uploads, 20);
  EXPECT_GE(fig.events, 20);
  EXPECT_GE(fig.not_found, 5);
  EXPECT_GE(fig.listings, 3);
  EXPECT_GE(fig.queued, 2);
  EXPECT_GT(fig.xoffs, 0);
  EXPECT_LE(fig.log_max, fig.log_limit);
  EXPECT_GT(fig.log_max, fig.log_limit * 3 / 4) << "the log never came near its limit";
  EXPECT_LT(fig.longest_away_ms, 5 * 60 * 1000);
  EXPECT_TRUE(fig.fds_flat()) << [&] {
    std::string out;
    for (const auto& s : fig.samples)
      out += std::to_string(s.hour) + "h " + std::to_string(s.fds) + " fds\n";
    return out;
  }();
#if !defined(__SANITIZE_ADDRESS__)
  // The allocator's quarantine grows under ASan; elsewhere the process stays flat.
  EXPECT_LT(fig.rss_growth_kb_per_hour(), 1024.0);
#endif
}

}  // namespace
}  // namespace shoplink::testing
