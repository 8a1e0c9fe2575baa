#pragma once
// An event loop that also watches file descriptors and turns signals into loop events: what
// the host line backends need. Two of them: RealLoop (ppoll, the headless service) and the
// desktop window's loop on Qt.
#include <functional>

#include "base/event_loop.hpp"

namespace shoplink {

class IoLoop : public EventLoop {
 public:
  using IoHandler = std::function<void(short revents)>;
  using EventLoop::EventLoop;

  // Watch `fd` for the poll `events` (POLLIN, POLLOUT); 0 pauses the watch.
  virtual int add_watch(int fd, short events, IoHandler handler) = 0;
  virtual void set_watch_events(int watch, short events) = 0;
  virtual void remove_watch(int watch) = 0;
  // Makes the loop call `handler` for the signal on its own thread.
  virtual void on_signal(int signo, std::function<void()> handler) = 0;
};

}  // namespace shoplink
