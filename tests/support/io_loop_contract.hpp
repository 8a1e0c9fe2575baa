#pragma once
// The contract every real-time loop keeps (RealLoop, the desktop window's loop): timers on the
// wall clock, bounded yields, sleeping when idle, descriptors and signals waking it, quit
// unwinding nested waits. Instantiate with INSTANTIATE_TYPED_TEST_SUITE_P for a loop type
// constructible from a RealClock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "base/clock.hpp"

namespace shoplink {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// CPU time (user + system) of the calling thread.
inline std::chrono::microseconds thread_cpu() {
  rusage u{};
  ::getrusage(RUSAGE_THREAD, &u);
  return std::chrono::seconds(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         std::chrono::microseconds(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

template <class Loop>
struct IoLoopContract : ::testing::Test {
  RealClock clock;
  Loop loop{clock};
  // Ends a run that would otherwise hang if the loop misses its wake-up.
  bool gave_up = false;
  void watchdog(std::chrono::milliseconds after) {
    auto t = loop.add_timer("watchdog", after);
    loop.set_handler(t, [this, t] {
      gave_up = true;
      loop.stop(t);
      loop.quit();
    });
    loop.start(t);
  }
};
TYPED_TEST_SUITE_P(IoLoopContract);

TYPED_TEST_P(IoLoopContract, TimersFireOnRealTimeUntilStopped) {
  int ticks = 0;
  auto t = this->loop.add_timer("t", millis(40));
  this->loop.set_handler(t, [&] {
    if (++ticks == 3) {
      this->loop.stop(t);
      this->loop.quit();
    }
  });
  this->watchdog(5000ms);
  const auto start = SteadyClock::now();
  this->loop.start(t);
  this->loop.run();
  const auto took = SteadyClock::now() - start;
  EXPECT_FALSE(this->gave_up);
  EXPECT_EQ(ticks, 3);
  EXPECT_GE(took, 120ms);
  EXPECT_LT(took, 3000ms);
}

TYPED_TEST_P(IoLoopContract, YieldWaitsAtMostItsLimitAndNoLessWhenNothingHappens) {
  auto start = SteadyClock::now();
  this->loop.yield(millis(80));
  EXPECT_GE(SteadyClock::now() - start, 80ms);
  EXPECT_LT(SteadyClock::now() - start, 2000ms);
  // A timer due before the limit ends the wait early and runs.
  bool fired = false;
  auto t = this->loop.add_timer("t", millis(30), [&] { fired = true; });
  this->loop.start(t);
  start = SteadyClock::now();
  while (!fired && SteadyClock::now() - start < 5s) this->loop.yield(millis(10000));
  EXPECT_TRUE(fired);
  EXPECT_LT(SteadyClock::now() - start, 3000ms);
  // Without a limit, yield only runs what is due.
  start = SteadyClock::now();
  this->loop.stop(t);
  this->loop.yield();
  EXPECT_LT(SteadyClock::now() - start, 50ms);
}

TYPED_TEST_P(IoLoopContract, AnIdleLoopSleepsInsteadOfSpinning) {
  auto t = this->loop.add_timer("end", millis(300));
  this->loop.set_handler(t, [&] {
    this->loop.stop(t);
    this->loop.quit();
  });
  // A slow timer ticking meanwhile must not turn the wait into polling either.
  int slow = 0;
  auto s = this->loop.add_timer("slow", millis(50), [&] { ++slow; });
  this->loop.start(s);
  this->loop.start(t);
  const auto cpu_before = thread_cpu();
  const auto start = SteadyClock::now();
  this->loop.run();
  const auto wall = SteadyClock::now() - start;
  const auto cpu = thread_cpu() - cpu_before;
  EXPECT_GE(wall, 300ms);
  EXPECT_GE(slow, 4);
  EXPECT_LT(cpu, 30ms) << "the loop used CPU while idle";
}

TYPED_TEST_P(IoLoopContract, WatchedDescriptorWakesTheLoop) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::fcntl(p[0], F_SETFL, O_NONBLOCK);
  std::string got;
  int w = this->loop.add_watch(p[0], POLLIN, [&](short revents) {
    EXPECT_TRUE(revents & POLLIN);
    char buf[16];
    ssize_t n;
    while ((n = ::read(p[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
    if (got == "ab") this->loop.quit();
  });
  this->watchdog(5000ms);
  std::thread writer([&] {
    std::this_thread::sleep_for(50ms);
    [[maybe_unused]] auto r = ::write(p[1], "ab", 2);
  });
  const auto start = SteadyClock::now();
  this->loop.run();  // nothing but the watchdog is due for five seconds
  writer.join();
  EXPECT_FALSE(this->gave_up);
  EXPECT_EQ(got, "ab");
  EXPECT_LT(SteadyClock::now() - start, 3000ms);

  // A paused watch is not called although data wait; resumed, it is.
  got.clear();
  this->loop.set_watch_events(w, 0);
  ASSERT_EQ(::write(p[1], "c", 1), 1);
  this->loop.yield(millis(30));
  EXPECT_EQ(got, "");
  this->loop.set_watch_events(w, POLLIN);
  // Data that were already waiting are the event a yield waits for: it returns at once.
  const auto resumed = SteadyClock::now();
  this->loop.yield(millis(2000));
  EXPECT_EQ(got, "c");
  EXPECT_LT(SteadyClock::now() - resumed, 1000ms);

  // A removed watch is never called again.
  this->loop.remove_watch(w);
  ASSERT_EQ(::write(p[1], "d", 1), 1);
  this->loop.yield(millis(30));
  EXPECT_EQ(got, "c");
  ::close(p[0]);
  ::close(p[1]);
}

TYPED_TEST_P(IoLoopContract, SignalsAreHandledOnTheLoopThread) {
  struct sigaction old {};
  ::sigaction(SIGUSR1, nullptr, &old);
  int calls = 0;
  const auto loop_thread = std::this_thread::get_id();
  this->loop.on_signal(SIGUSR1, [&] {
    EXPECT_EQ(std::this_thread::get_id(), loop_thread);
    ++calls;
    this->loop.quit();
  });

  // Raised while a handler runs: picked up by the next wait.
  auto t = this->loop.add_timer("raise", millis(20));
  this->loop.set_handler(t, [&] {
    this->loop.stop(t);
    std::raise(SIGUSR1);
  });
  this->loop.start(t);
  this->watchdog(5000ms);
  this->loop.run();
  EXPECT_FALSE(this->gave_up);
  EXPECT_EQ(calls, 1);

  // Sent from elsewhere while the loop blocks with nothing due for seconds.
  this->watchdog(5000ms);
  std::thread sender([] {
    std::this_thread::sleep_for(50ms);
    ::kill(::getpid(), SIGUSR1);
  });
  const auto start = SteadyClock::now();
  this->loop.run();
  sender.join();
  EXPECT_FALSE(this->gave_up);
  EXPECT_EQ(calls, 2);
  EXPECT_LT(SteadyClock::now() - start, 3000ms);
  ::sigaction(SIGUSR1, &old, nullptr);
}

TYPED_TEST_P(IoLoopContract, QuitFromANestedHandlerEndsRun) {
  auto outer = this->loop.add_timer("outer", millis(10));
  auto inner = this->loop.add_timer("inner", millis(10));
  int inner_ticks = 0;
  this->loop.set_handler(inner, [&] {
    if (++inner_ticks == 2) this->loop.quit();
  });
  this->loop.set_handler(outer, [&] {
    this->loop.stop(outer);
    this->loop.start(inner);
    // A long operation yielding to pending events, as a transfer does.
    while (!this->loop.quit_requested()) this->loop.yield(kForever);
    this->loop.stop(inner);
  });
  this->watchdog(5000ms);
  this->loop.start(outer);
  this->loop.run();
  EXPECT_FALSE(this->gave_up);
  EXPECT_EQ(inner_ticks, 2);
}

// The wait and the I/O it handles are one step: a quit asked for by a handler the wait ran
// ends the yield there, and a timer that fell due meanwhile does not run after it.
TYPED_TEST_P(IoLoopContract, AQuitFromWhatTheWaitHandledRunsNothingMore) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::fcntl(p[0], F_SETFL, O_NONBLOCK);
  int ticks = 0;
  auto t = this->loop.add_timer("t", millis(30), [&] { ++ticks; });
  this->loop.add_watch(p[0], POLLIN, [&](short) {
    char buf[16];
    while (::read(p[0], buf, sizeof buf) > 0) {
    }
    std::this_thread::sleep_for(60ms);  // the timer falls due meanwhile
    this->loop.quit();
  });
  std::thread writer([&] {
    std::this_thread::sleep_for(10ms);
    [[maybe_unused]] auto r = ::write(p[1], "x", 1);
  });
  this->loop.start(t);
  const auto start = SteadyClock::now();
  this->loop.yield(millis(5000));
  writer.join();
  EXPECT_TRUE(this->loop.quit_requested());
  EXPECT_EQ(ticks, 0);
  EXPECT_LT(SteadyClock::now() - start, 3000ms);
  // A waiting yield after the quit neither waits nor runs the timer.
  const auto after = SteadyClock::now();
  this->loop.yield(millis(2000));
  EXPECT_EQ(ticks, 0);
  EXPECT_LT(SteadyClock::now() - after, 1000ms);
  ::close(p[0]);
  ::close(p[1]);
}

REGISTER_TYPED_TEST_SUITE_P(IoLoopContract, TimersFireOnRealTimeUntilStopped,
                            YieldWaitsAtMostItsLimitAndNoLessWhenNothingHappens,
                            AnIdleLoopSleepsInsteadOfSpinning, WatchedDescriptorWakesTheLoop,
                            SignalsAreHandledOnTheLoopThread, QuitFromANestedHandlerEndsRun,
                            AQuitFromWhatTheWaitHandledRunsNothingMore);

}  // namespace shoplink
