#include "base/event_loop.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/virtual_loop.hpp"

namespace shoplink {
namespace {

struct LoopTest : ::testing::Test {
  VirtualClock clock;
  VirtualLoop loop{clock};
  std::vector<std::string> events;
  std::int64_t at() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(loop.now().time_since_epoch())
        .count();
  }
  void note(const std::string& what) { events.push_back(what + "@" + std::to_string(at())); }
};

TEST_F(LoopTest, TimerFiresEveryIntervalUntilStopped) {
  auto t = loop.add_timer("t", millis(100));
  int n = 0;
  loop.set_handler(t, [&] {
    note("t");
    if (++n == 3) loop.stop(t);
  });
  loop.start(t);
  loop.advance_ms(1000);
  EXPECT_EQ(events, (std::vector<std::string>{"t@100", "t@200", "t@300"}));
}

TEST_F(LoopTest, StartRestartsTheCountdownButEnablingARunningTimerDoesNot) {
  auto t = loop.add_timer("t", millis(100), [&] { note("t"); });
  loop.start(t);
  loop.advance_ms(60);
  loop.start(t);  // restart: next tick at 160
  loop.advance_ms(60);
  loop.set_enabled(t, true);  // already on: keeps 160
  loop.advance_ms(50);
  loop.stop(t);
  EXPECT_EQ(events, (std::vector<std::string>{"t@160"}));
}

TEST_F(LoopTest, ChangingTheIntervalOfARunningTimerRestartsIt) {
  auto t = loop.add_timer("t", millis(100), [&] { note("t"); });
  loop.start(t);
  loop.advance_ms(90);
  loop.set_interval(t, millis(50));
  loop.advance_ms(60);
  loop.stop(t);
  EXPECT_EQ(events, (std::vector<std::string>{"t@140"}));
}

TEST_F(LoopTest, IntervalZeroNeverFires) {
  auto t = loop.add_timer("t", Duration::zero(), [&] { note("t"); });
  loop.start(t);
  loop.post_after(millis(500), [] {});
  loop.advance_ms(1000);
  EXPECT_TRUE(events.empty());
}

TEST_F(LoopTest, HandlerMayStopAndRetimeOtherTimersAndItself) {
  auto a = loop.add_timer("a", millis(100));
  auto b = loop.add_timer("b", millis(100), [&] { note("b"); });
  loop.set_handler(a, [&] {
    note("a");
    loop.stop(b);                       // b was due at the same instant: it must not run
    loop.set_interval(a, millis(300));  // re-time itself
  });
  loop.start(a);
  loop.start(b);
  loop.advance_ms(450);
  EXPECT_EQ(events, (std::vector<std::string>{"a@100", "a@400"}));
}

TEST_F(LoopTest, SameInstantRunsInStartOrder) {
  auto a = loop.add_timer("a", millis(100), [&] { note("a"); });
  auto b = loop.add_timer("b", millis(100), [&] { note("b"); });
  loop.start(b);
  loop.start(a);
  loop.advance_ms(100);
  EXPECT_EQ(events, (std::vector<std::string>{"b@100", "a@100"}));
}

TEST_F(LoopTest, EarlierDeadlineRunsFirstEvenWhenStartedLater) {
  auto a = loop.add_timer("a", millis(100), [&] { note("a"); });
  auto b = loop.add_timer("b", millis(30), [&] { note("b"); });
  loop.start(a);
  loop.advance_ms(80);  // a due at 100, b started at 80 due at 110
  loop.start(b);
  loop.set_handler(b, [&] {
    note("b");
    loop.stop(b);
  });
  loop.advance_ms(40);
  loop.stop(a);
  EXPECT_EQ(events, (std::vector<std::string>{"a@100", "b@110"}));
}

// The heart of the design: a handler that yields (a transmission inside the receive poll)
// while its own timer falls due is not re-entered; other timers keep running; its missed
// tick fires once after it returns.
TEST_F(LoopTest, HandlerThatYieldsIsNotReenteredByItsOwnTimer) {
  auto poll = loop.add_timer("poll", millis(150));
  auto other = loop.add_timer("other", millis(100), [&] { note("other"); });
  auto delay = loop.add_timer("delay", millis(500));
  loop.set_handler(delay, [&] { loop.stop(delay); });
  int depth = 0, calls = 0;
  loop.set_handler(poll, [&] {
    ++calls;
    ++depth;
    EXPECT_EQ(depth, 1) << "poll re-entered";
    note("poll");
    if (calls == 1) {
      // A long operation: a one-shot delay of 500 ms, yielding meanwhile.
      loop.set_interval(delay, millis(500));
      loop.start(delay);
      loop.wait_until_stopped(delay);
      note("poll-done");
    }
    --depth;
  });
  loop.start(poll);
  loop.start(other);
  loop.advance_ms(700);
  loop.stop(poll);
  loop.stop(other);
  EXPECT_EQ(events, (std::vector<std::string>{"other@100", "poll@150", "other@200", "other@300",
                                              "other@400", "other@500", "other@600",
                                              "poll-done@650", "poll@650", "other@700"}));
  EXPECT_EQ(calls, 2);
}

TEST_F(LoopTest, NestedYieldsRunDueHandlers) {
  auto outer = loop.add_timer("outer", millis(10));
  auto inner = loop.add_timer("inner", millis(20), [&] { note("inner"); });
  loop.set_handler(outer, [&] {
    loop.stop(outer);
    note("outer");
    // Wait for 50 ms of time in small yields, the way character output waits.
    auto until = loop.now() + millis(50);
    while (loop.now() < until) loop.yield(millis(7));
    note("outer-end");
  });
  loop.start(outer);
  loop.start(inner);
  loop.advance_ms(70);
  loop.stop(inner);
  EXPECT_EQ(events, (std::vector<std::string>{"outer@10", "inner@20", "inner@40", "inner@60",
                                              "outer-end@60"}));
}

TEST_F(LoopTest, PostsRunOnceInTimeOrder) {
  loop.post_after(millis(30), [&] { note("p30"); });
  loop.post_after(millis(10), [&] { note("p10"); });
  loop.post_after(millis(10), [&] { note("p10b"); });
  loop.advance_ms(100);
  EXPECT_EQ(events, (std::vector<std::string>{"p10@10", "p10b@10", "p30@30"}));
}

TEST_F(LoopTest, YieldWithoutWaitDoesNotAdvanceTime) {
  auto t = loop.add_timer("t", millis(100), [&] { note("t"); });
  loop.start(t);
  loop.yield();
  EXPECT_EQ(at(), 0);
  loop.yield(millis(40));
  EXPECT_EQ(at(), 40);
  EXPECT_TRUE(events.empty());
  loop.yield(kForever);
  EXPECT_EQ(events, (std::vector<std::string>{"t@100"}));
}

TEST_F(LoopTest, WaitingForEverWithNothingScheduledIsReported) {
  EXPECT_THROW(loop.yield(kForever), VirtualDeadlock);
}

TEST_F(LoopTest, RunEndsOnQuit) {
  auto t = loop.add_timer("t", millis(100));
  int n = 0;
  loop.set_handler(t, [&] {
    if (++n == 5) loop.quit();
  });
  loop.start(t);
  loop.run();
  EXPECT_EQ(n, 5);
  EXPECT_EQ(at(), 500);
}

// A stop asked for inside a nested wait unwinds it at once: no handler runs after the quit,
// and neither a yield nor a one-shot delay waits any more.
TEST_F(LoopTest, AfterQuitNothingRunsAndNothingWaits) {
  auto outer = loop.add_timer("outer", millis(100));
  auto other = loop.add_timer("other", millis(50));
  auto delay = loop.add_timer("delay", millis(10000));
  int others = 0;
  loop.set_handler(other, [&] { ++others; });
  loop.set_handler(delay, [&] { loop.stop(delay); });
  loop.set_handler(outer, [&] {
    loop.stop(outer);
    loop.post_after(millis(20), [&] { loop.quit(); });
    loop.start(delay);
    loop.wait_until_stopped(delay);  // the one-shot delay: ends with the quit, not after 10 s
    loop.yield(kForever);
  });
  loop.start(outer);
  loop.start(other);
  loop.run();
  EXPECT_EQ(at(), 120);
  EXPECT_EQ(others, 2);  // at 50 and 100 ms; none after the quit at 120 ms
  EXPECT_TRUE(loop.enabled(delay));
}

TEST_F(LoopTest, VirtualWallClockFollowsVirtualTime) {
  clock.set_local({2026, 12, 31, 23, 59, 58});
  loop.post_after(millis(3000), [] {});
  loop.advance_ms(3000);
  auto t = clock.local_now();
  EXPECT_EQ(t.year, 2027);
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.day, 1);
  EXPECT_EQ(t.second, 1);
}

}  // namespace
}  // namespace shoplink
