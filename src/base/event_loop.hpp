#pragma once
// The one-threaded event loop: window-style timers plus one-shot posted callbacks.
//
// Timer semantics (those of the original window timers):
//  - start() restarts the countdown; a started timer fires every interval until stopped;
//    an interval of 0 never fires.
//  - set_enabled(true) on a running timer keeps its countdown; set_interval() on a running
//    timer restarts the countdown with the new interval.
//  - any handler may start, stop or re-time any timer, its own included.
//  - a timer whose handler is still running (it yielded) is not fired again until the
//    handler returns; a tick that fell due meanwhile fires once after that.
//  - yield() runs each handler that is due once, earliest deadline first, then by the
//    order in which the timers were started. Handlers may yield (nested yields).
//  - after quit() no handler runs and yield() neither waits nor fires: every wait loop
//    must check quit_requested() and return, so that a stop unwinds at once.
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.hpp"

namespace shoplink {

class EventLoop {
 public:
  using Handler = std::function<void()>;
  using TimerId = int;

  explicit EventLoop(Clock& clock) : clock_(clock) {}
  virtual ~EventLoop() = default;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  TimerId add_timer(std::string name, Duration interval, Handler handler = {});
  void set_handler(TimerId id, Handler handler);
  void set_interval(TimerId id, Duration interval);
  Duration interval(TimerId id) const { return timers_.at(id).interval; }
  void start(TimerId id);
  void stop(TimerId id);
  void set_enabled(TimerId id, bool on);
  bool enabled(TimerId id) const { return timers_.at(id).enabled; }
  bool handler_running(TimerId id) const { return timers_.at(id).running; }
  const std::string& timer_name(TimerId id) const { return timers_.at(id).name; }

  // One-shot callbacks on the loop's clock (the simulator's events use these).
  void post_at(TimePoint when, Handler handler);
  void post_after(Duration delay, Handler handler) { post_at(now() + delay, std::move(handler)); }

  // Runs every handler that is due, once. When nothing is due it first waits for the next
  // deadline, I/O or `max_wait`, whichever comes first.
  void yield(Duration max_wait = Duration::zero());
  // Waits (yielding) until the timer has stopped itself: the one-shot delay.
  void wait_until_stopped(TimerId id);
  // Yields until `done()` holds, waking at most every `poll` to re-check it.
  void wait_for(const std::function<bool()>& done, Duration poll);

  void run();
  // Ends run() once the handlers now on the stack have returned.
  void quit();
  bool quit_requested() const { return quit_; }

  Clock& clock() { return clock_; }
  TimePoint now() const { return clock_.now(); }
  int yield_depth() const { return depth_; }

 protected:
  // Block until `deadline` or until I/O or a wake-up arrives (returning early is allowed).
  virtual void wait_until(TimePoint deadline) = 0;
  // Handle ready I/O without blocking.
  virtual void poll_io() {}
  // Handle ready I/O and, when none was ready, block as wait_until does: the check and the
  // wait in one step, for a loop whose wait returns at once for ready I/O. False (nothing
  // done) when the loop cannot; yield then checks and waits in two steps.
  virtual bool poll_and_wait(TimePoint /*deadline*/) { return false; }
  virtual void wake() {}
  // A timer was started or re-timed (a loop that sleeps on one deadline re-arms it).
  virtual void schedule_changed() {}
  TimePoint next_deadline() const;

 private:
  struct TimerEntry {
    std::string name;
    Duration interval{};
    Handler handler;
    bool enabled = false;
    bool running = false;
    TimePoint deadline{};
    unsigned long seq = 0;
  };
  bool due(const TimerEntry& t, TimePoint now) const {
    return t.enabled && !t.running && t.interval > Duration::zero() && t.deadline <= now;
  }
  bool anything_due(TimePoint now) const;
  void run_due();
  void arm(TimerEntry& t);

  Clock& clock_;
  std::vector<TimerEntry> timers_;
  std::multimap<std::pair<TimePoint, unsigned long>, Handler> posts_;
  unsigned long seq_ = 0;
  int depth_ = 0;
  bool quit_ = false;
};

// A named handle on one loop timer, so that code reads `Timer3.start()`.
class Timer {
 public:
  Timer() = default;
  Timer(EventLoop* loop, EventLoop::TimerId id) : loop_(loop), id_(id) {}
  void start() { loop_->start(id_); }
  void stop() { loop_->stop(id_); }
  void set_enabled(bool on) { loop_->set_enabled(id_, on); }
  bool enabled() const { return loop_->enabled(id_); }
  void set_interval(int ms) { loop_->set_interval(id_, millis(ms)); }
  int interval() const {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(loop_->interval(id_)).count());
  }
  void set_handler(EventLoop::Handler h) { loop_->set_handler(id_, std::move(h)); }
  // The one-shot delay: (optionally set the interval,) start, yield until it stops itself.
  void one_shot_delay(int ms = 0) {
    if (ms > 0) set_interval(ms);
    start();
    loop_->wait_until_stopped(id_);
  }
  EventLoop::TimerId id() const { return id_; }
  bool valid() const { return loop_ != nullptr; }

 private:
  EventLoop* loop_ = nullptr;
  EventLoop::TimerId id_ = -1;
};

}  // namespace shoplink
