// The station's thread asks for the scheduler's shortest slice and keeps its nice value.
#include "base/short_slice.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/utsname.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace shoplink {
namespace {

// The calling thread's slice as the scheduler reports it, in nanoseconds (-1: not reported).
long long slice_in_force() {
  std::ifstream in("/proc/thread-self/sched");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("se.slice")) return std::stoll(line.substr(line.find(':') + 1));
  return -1;
}

// Linux takes a thread's slice request from 6.12 on.
bool kernel_takes_slices() {
  utsname u{};
  int major = 0, minor = 0;
  return ::uname(&u) == 0 && std::sscanf(u.release, "%d.%d", &major, &minor) == 2 &&
         (major > 6 || (major == 6 && minor >= 12));
}

TEST(ShortSlice, TheThreadGetsTheShortestSliceAndKeepsItsNiceValue) {
  long long granted = 0, reported = 0;
  int nice_after = 0;
  // A thread of its own: the test's other threads keep their slices.
  std::thread([&] {
    ASSERT_EQ(::setpriority(PRIO_PROCESS, 0, 3), 0);
    granted = request_short_time_slice();
    reported = slice_in_force();
    nice_after = ::getpriority(PRIO_PROCESS, 0);
  }).join();
  if (!kernel_takes_slices()) GTEST_SKIP() << "this kernel takes no slice request";
  EXPECT_EQ(granted, kShortSliceNs);
  if (reported >= 0) {
    EXPECT_EQ(reported, kShortSliceNs);
  }
  EXPECT_EQ(nice_after, 3);
}

}  // namespace
}  // namespace shoplink
