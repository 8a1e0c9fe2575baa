#include "base/short_slice.hpp"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace shoplink {

namespace {

// The kernel's struct sched_attr (glibc 2.36 has no declaration; the kernel's header clashes
// with <sched.h>).
struct SchedAttr {
  std::uint32_t size;
  std::uint32_t sched_policy;
  std::uint64_t sched_flags;
  std::int32_t sched_nice;
  std::uint32_t sched_priority;
  std::uint64_t sched_runtime;  // the slice, for an ordinary thread
  std::uint64_t sched_deadline;
  std::uint64_t sched_period;
  std::uint32_t sched_util_min;
  std::uint32_t sched_util_max;
};

bool get_attr(SchedAttr& a) {
  a = {};
  return ::syscall(SYS_sched_getattr, 0, &a, sizeof a, 0) == 0;
}

}  // namespace

long long request_short_time_slice() {
  SchedAttr a;
  // The policy and nice value stay what they are: only the slice of an ordinary thread.
  if (!get_attr(a) || (a.sched_policy != SCHED_OTHER && a.sched_policy != SCHED_BATCH)) return 0;
  a.size = sizeof a;
  a.sched_flags = 0;
  a.sched_runtime = kShortSliceNs;
  if (::syscall(SYS_sched_setattr, 0, &a, 0) != 0) return 0;
  // An older kernel takes the call and ignores the slice: it reads back as 0 there.
  if (!get_attr(a)) return 0;
  return static_cast<long long>(a.sched_runtime);
}

}  // namespace shoplink
