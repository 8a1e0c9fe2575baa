#pragma once
// Production loop: blocks in ppoll until the next timer, I/O on a watched descriptor, or a
// wake-up (quit, a signal). An idle station sleeps.
#include <functional>
#include <vector>

#include "base/event_loop.hpp"

namespace shoplink {

class RealLoop final : public EventLoop {
 public:
  using IoHandler = std::function<void(short revents)>;
  explicit RealLoop(Clock& clock);
  ~RealLoop() override;

  // Watch `fd` for the poll `events` (POLLIN, POLLOUT); 0 pauses the watch.
  int add_watch(int fd, short events, IoHandler handler);
  void set_watch_events(int watch, short events);
  void remove_watch(int watch);

  // Async-signal-safe: makes the loop call `handler` for the signal on its own thread.
  void on_signal(int signo, std::function<void()> handler);

 protected:
  void wait_until(TimePoint deadline) override;
  void poll_io() override;
  void wake() override;

 private:
  void do_poll(bool blocking, TimePoint deadline);
  struct Watch {
    int fd = -1;
    short events = 0;
    IoHandler handler;
    bool active = false;
  };
  std::vector<Watch> watches_;
  int wake_pipe_[2] = {-1, -1};
  std::vector<std::pair<int, std::function<void()>>> signal_handlers_;
  unsigned long handled_ = 0;         // I/O and signal handlers run so far
  bool handled_before_wait_ = false;  // the last poll_io() ran one
};

}  // namespace shoplink
