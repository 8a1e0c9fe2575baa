#include "base/real_loop.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace shoplink {

namespace {
volatile std::sig_atomic_t g_signal_pipe = -1;  // write end, used from the signal handler

void on_any_signal(int signo) {
  const int saved = errno;  // the interrupted code may be about to read errno
  if (g_signal_pipe >= 0) {
    unsigned char b = static_cast<unsigned char>(signo);
    [[maybe_unused]] auto r = ::write(g_signal_pipe, &b, 1);
  }
  errno = saved;
}
}  // namespace

RealLoop::RealLoop(Clock& clock) : IoLoop(clock) {
  if (::pipe(wake_pipe_) != 0) throw std::runtime_error("cannot create the loop's wake pipe");
  for (int fd : wake_pipe_) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
}

RealLoop::~RealLoop() {
  if (g_signal_pipe == wake_pipe_[1]) g_signal_pipe = -1;
  ::close(wake_pipe_[0]);
  ::close(wake_pipe_[1]);
}

int RealLoop::add_watch(int fd, short events, IoHandler handler) {
  watches_.push_back({fd, events, std::move(handler), true});
  return static_cast<int>(watches_.size() - 1);
}

void RealLoop::set_watch_events(int watch, short events) {
  watches_.at(watch).events = events;
}

void RealLoop::remove_watch(int watch) {
  auto& w = watches_.at(watch);
  w.active = false;
  w.events = 0;
  w.handler = nullptr;
}

void RealLoop::on_signal(int signo, std::function<void()> handler) {
  signal_handlers_.emplace_back(signo, std::move(handler));
  g_signal_pipe = wake_pipe_[1];
  struct sigaction sa {};
  sa.sa_handler = on_any_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(signo, &sa, nullptr);
}

void RealLoop::wake() {
  unsigned char b = 0;
  [[maybe_unused]] auto r = ::write(wake_pipe_[1], &b, 1);
}

void RealLoop::wait_until(TimePoint deadline) {
  // What the check before the wait handled (a signal's handler that quit, a descriptor that
  // drained) may be what the caller waits for: return to it instead of sleeping on.
  if (handled_before_wait_) {
    handled_before_wait_ = false;
    return;
  }
  do_poll(true, deadline);
}

void RealLoop::poll_io() {
  const unsigned long before = handled_;
  do_poll(false, TimePoint{});
  handled_before_wait_ = handled_ != before;
}

bool RealLoop::poll_and_wait(TimePoint deadline) {
  // ppoll returns at once for a descriptor already ready: no separate check before it.
  handled_before_wait_ = false;
  do_poll(true, deadline);
  return true;
}

void RealLoop::do_poll(bool blocking, TimePoint deadline) {
  // A handler below may yield and so poll again: only the outermost poll uses the kept
  // vectors, a nested one has its own.
  std::vector<pollfd> nested_fds;
  std::vector<int> nested_index;
  const bool outermost = polling_ == 0;
  std::vector<pollfd>& fds = outermost ? fds_ : nested_fds;
  std::vector<int>& index = outermost ? fd_watch_ : nested_index;
  ++polling_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{polling_};
  fds.clear();
  index.clear();
  fds.push_back({wake_pipe_[0], POLLIN, 0});
  index.push_back(-1);
  for (std::size_t i = 0; i < watches_.size(); ++i) {
    if (watches_[i].active && watches_[i].events != 0) {
      fds.push_back({watches_[i].fd, watches_[i].events, 0});
      index.push_back(static_cast<int>(i));
    }
  }
  timespec ts{0, 0};
  timespec* tsp = &ts;
  if (blocking) {
    if (deadline == TimePoint::max()) {
      tsp = nullptr;
    } else {
      auto left = deadline - now();
      if (left < Duration::zero()) left = Duration::zero();
      auto ns = left.count();
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
    }
  }
  int n = ::ppoll(fds.data(), fds.size(), tsp, nullptr);
  if (n <= 0) return;
  if (fds[0].revents & POLLIN) {
    unsigned char buf[64];
    ssize_t got;
    while ((got = ::read(wake_pipe_[0], buf, sizeof buf)) > 0) {
      for (ssize_t i = 0; i < got; ++i) {
        if (buf[i] == 0) continue;  // a plain wake-up
        // By index and by copy: a handler may register further handlers.
        for (std::size_t k = 0; k < signal_handlers_.size(); ++k) {
          if (signal_handlers_[k].first != buf[i]) continue;
          auto h = signal_handlers_[k].second;
          ++handled_;
          if (h) h();
        }
      }
    }
  }
  for (std::size_t k = 1; k < fds.size(); ++k) {
    if (fds[k].revents == 0) continue;
    auto& w = watches_[static_cast<std::size_t>(index[k])];
    if (w.active && w.handler) {
      auto h = w.handler;
      ++handled_;
      h(fds[k].revents);
    }
  }
}

}  // namespace shoplink
