#include "base/event_loop.hpp"

#include <algorithm>
#include <tuple>

namespace shoplink {

EventLoop::TimerId EventLoop::add_timer(std::string name, Duration interval, Handler handler) {
  TimerEntry t;
  t.name = std::move(name);
  t.interval = interval;
  t.handler = std::move(handler);
  timers_.push_back(std::move(t));
  return static_cast<TimerId>(timers_.size() - 1);
}

void EventLoop::set_handler(TimerId id, Handler handler) {
  timers_.at(id).handler = std::move(handler);
}

void EventLoop::arm(TimerEntry& t) {
  t.enabled = true;
  t.deadline = now() + t.interval;
  t.seq = ++seq_;
  schedule_changed();
}

void EventLoop::set_interval(TimerId id, Duration interval) {
  auto& t = timers_.at(id);
  t.interval = interval;
  if (t.enabled) arm(t);
}

void EventLoop::start(TimerId id) {
  arm(timers_.at(id));
}

void EventLoop::stop(TimerId id) {
  timers_.at(id).enabled = false;
}

void EventLoop::set_enabled(TimerId id, bool on) {
  auto& t = timers_.at(id);
  if (!on) {
    t.enabled = false;
  } else if (!t.enabled) {
    arm(t);
  }
}

void EventLoop::post_at(TimePoint when, Handler handler) {
  posts_.emplace(std::make_pair(when, ++seq_), std::move(handler));
  wake();
}

TimePoint EventLoop::next_deadline() const {
  TimePoint next = TimePoint::max();
  for (const auto& t : timers_)
    if (t.enabled && !t.running && t.interval > Duration::zero()) next = std::min(next, t.deadline);
  if (!posts_.empty()) next = std::min(next, posts_.begin()->first.first);
  return next;
}

bool EventLoop::anything_due(TimePoint now) const {
  if (!posts_.empty() && posts_.begin()->first.first <= now) return true;
  return std::any_of(timers_.begin(), timers_.end(), [&](const auto& t) { return due(t, now); });
}

namespace {
TimePoint wait_limit(TimePoint t, Duration max_wait) {
  return max_wait == kForever || t > TimePoint::max() - max_wait ? TimePoint::max() : t + max_wait;
}
}  // namespace

void EventLoop::yield(Duration max_wait) {
  // The common wait (a paced line's sleep until its next burst): one step where the loop
  // can, since every wake-up costs the station its CPU share.
  if (max_wait > Duration::zero() && !quit_) {
    const TimePoint t = now();
    if (!anything_due(t) && poll_and_wait(std::min(next_deadline(), wait_limit(t, max_wait)))) {
      if (!quit_) run_due();
      return;
    }
  }
  poll_io();
  // Stopping: no handler starts any more and nothing waits, so every nested wait returns
  // to its caller at once and the stack unwinds to run().
  if (quit_) return;
  const TimePoint t = now();
  if (!anything_due(t) && max_wait > Duration::zero()) {
    wait_until(std::min(next_deadline(), wait_limit(t, max_wait)));
    if (quit_) return;  // asked for by what the wait handled (a signal, I/O)
  }
  run_due();
}

void EventLoop::run_due() {
  const TimePoint t = now();
  if (!anything_due(t)) return;  // the usual case after a wait: nothing to order
  // (deadline, seq, kind, index): kind 0 = timer, 1 = post.
  std::vector<std::tuple<TimePoint, unsigned long, int, TimerId>> order;
  for (std::size_t i = 0; i < timers_.size(); ++i)
    if (due(timers_[i], t))
      order.emplace_back(timers_[i].deadline, timers_[i].seq, 0, static_cast<TimerId>(i));
  for (auto it = posts_.begin(); it != posts_.end() && it->first.first <= t; ++it)
    order.emplace_back(it->first.first, it->first.second, 1, 0);
  std::sort(order.begin(), order.end());

  ++depth_;
  for (const auto& [deadline, seq, kind, id] : order) {
    if (kind == 1) {
      auto it = posts_.find(std::make_pair(deadline, seq));
      if (it == posts_.end()) continue;
      Handler h = std::move(it->second);
      posts_.erase(it);
      if (h) h();
      continue;
    }
    auto& timer = timers_[id];
    // A handler that ran before may have stopped, restarted or fired this timer.
    if (!due(timer, t) || timer.seq != seq) continue;
    const TimePoint cur = now();
    timer.deadline = std::max(timer.deadline + timer.interval, cur);
    if (timer.deadline == cur) timer.deadline = cur + timer.interval;
    Handler h = timer.handler;  // the handler may replace itself
    timer.running = true;
    if (h) h();
    timers_[id].running = false;
  }
  --depth_;
}

void EventLoop::wait_until_stopped(TimerId id) {
  while (enabled(id) && !quit_) yield(kForever);
}

void EventLoop::wait_for(const std::function<bool()>& done, Duration poll) {
  while (!done() && !quit_) yield(poll);
}

void EventLoop::run() {
  quit_ = false;
  while (!quit_) yield(kForever);
}

void EventLoop::quit() {
  quit_ = true;
  wake();
}

}  // namespace shoplink
