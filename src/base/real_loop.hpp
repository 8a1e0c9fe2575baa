#pragma once
// Production loop: blocks in ppoll until the next timer, I/O on a watched descriptor, or a
// wake-up (quit, a signal). An idle station sleeps.
#include <poll.h>

#include <functional>
#include <vector>

#include "base/io_loop.hpp"

namespace shoplink {

class RealLoop final : public IoLoop {
 public:
  explicit RealLoop(Clock& clock);
  ~RealLoop() override;

  int add_watch(int fd, short events, IoHandler handler) override;
  void set_watch_events(int watch, short events) override;
  void remove_watch(int watch) override;
  // Async-signal-safe: the signal only writes to the loop's wake pipe.
  void on_signal(int signo, std::function<void()> handler) override;

 protected:
  void wait_until(TimePoint deadline) override;
  void poll_io() override;
  bool poll_and_wait(TimePoint deadline) override;
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
  // The descriptors of one ppoll and the watch each belongs to (-1: the wake pipe); kept
  // between polls so that a wake-up allocates nothing.
  std::vector<pollfd> fds_;
  std::vector<int> fd_watch_;
  int polling_ = 0;  // do_poll calls on the stack
  int wake_pipe_[2] = {-1, -1};
  std::vector<std::pair<int, std::function<void()>>> signal_handlers_;
  unsigned long handled_ = 0;         // I/O and signal handlers run so far
  bool handled_before_wait_ = false;  // the last poll_io() ran one
};

}  // namespace shoplink
