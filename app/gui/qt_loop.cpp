#include "gui/qt_loop.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <stdexcept>

namespace shoplink {

namespace {
volatile std::sig_atomic_t g_signal_pipe = -1;

void on_any_signal(int signo) {
  const int saved = errno;
  if (g_signal_pipe >= 0) {
    unsigned char b = static_cast<unsigned char>(signo);
    [[maybe_unused]] auto r = ::write(g_signal_pipe, &b, 1);
  }
  errno = saved;
}

int ms_until(TimePoint deadline, TimePoint now) {
  if (deadline <= now) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return ms > 24 * 3600 * 1000 ? 24 * 3600 * 1000 : static_cast<int>(ms);
}
}  // namespace

QtLoop::QtLoop(Clock& clock) : IoLoop(clock) {
  if (QCoreApplication::instance() == nullptr)
    throw std::logic_error("QtLoop needs a QCoreApplication");
  for (QTimer* t : {&due_timer_, &wait_timer_}) {
    t->setSingleShot(true);
    t->setTimerType(Qt::PreciseTimer);
  }
  QObject::connect(&due_timer_, &QTimer::timeout, &context_, [this] { on_due(); });
  // The wait timer only has to wake processEvents; its own event is the wake-up.
  QObject::connect(&wait_timer_, &QTimer::timeout, &context_, [] {});
  wait_fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (wait_fd_ >= 0) {
    wait_notifier_ = std::make_unique<QSocketNotifier>(wait_fd_, QSocketNotifier::Read);
    QObject::connect(wait_notifier_.get(), &QSocketNotifier::activated, &context_, [this] {
      std::uint64_t expirations;
      [[maybe_unused]] auto r = ::read(wait_fd_, &expirations, sizeof expirations);
    });
  }
}

QtLoop::~QtLoop() {
  if (g_signal_pipe == signal_pipe_[1]) g_signal_pipe = -1;
  signal_notifier_.reset();
  wait_notifier_.reset();
  if (wait_fd_ >= 0) ::close(wait_fd_);
  for (int fd : signal_pipe_)
    if (fd >= 0) ::close(fd);
}

int QtLoop::add_watch(int fd, short events, IoHandler handler) {
  const int id = static_cast<int>(watches_.size());
  Watch w;
  w.read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  w.write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  QObject::connect(w.read.get(), &QSocketNotifier::activated, &context_,
                   [this, id] { on_ready(id, POLLIN); });
  QObject::connect(w.write.get(), &QSocketNotifier::activated, &context_,
                   [this, id] { on_ready(id, POLLOUT); });
  w.handler = std::move(handler);
  watches_.push_back(std::move(w));
  set_watch_events(id, events);
  return id;
}

void QtLoop::set_watch_events(int watch, short events) {
  auto& w = watches_.at(static_cast<std::size_t>(watch));
  if (!w.read) return;
  w.read->setEnabled((events & POLLIN) != 0);
  w.write->setEnabled((events & POLLOUT) != 0);
}

void QtLoop::remove_watch(int watch) {
  auto& w = watches_.at(static_cast<std::size_t>(watch));
  // Not destroyed here: the notifier may be the one whose signal is being delivered.
  if (w.read) w.read->setEnabled(false);
  if (w.write) w.write->setEnabled(false);
  w.handler = nullptr;
}

void QtLoop::on_ready(int watch, short what) {
  auto& w = watches_.at(static_cast<std::size_t>(watch));
  if (!w.handler) return;
  auto h = w.handler;  // the handler may remove or replace its watch
  ++handled_;
  h(what);
}

void QtLoop::on_signal(int signo, std::function<void()> handler) {
  if (signal_pipe_[0] < 0) {
    if (::pipe(signal_pipe_) != 0) throw std::runtime_error("cannot create the signal pipe");
    for (int fd : signal_pipe_) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    signal_notifier_ = std::make_unique<QSocketNotifier>(signal_pipe_[0], QSocketNotifier::Read);
    QObject::connect(signal_notifier_.get(), &QSocketNotifier::activated, &context_, [this] {
      unsigned char buf[64];
      ssize_t got;
      while ((got = ::read(signal_pipe_[0], buf, sizeof buf)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
          for (std::size_t k = 0; k < signal_handlers_.size(); ++k) {
            if (signal_handlers_[k].first != buf[i]) continue;
            auto h = signal_handlers_[k].second;
            ++handled_;
            if (h) h();
          }
        }
      }
    });
  }
  signal_handlers_.emplace_back(signo, std::move(handler));
  g_signal_pipe = signal_pipe_[1];
  struct sigaction sa {};
  sa.sa_handler = on_any_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(signo, &sa, nullptr);
}

void QtLoop::pump(bool block) {
  ++pumping_;
  QCoreApplication::processEvents(block ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents);
  --pumping_;
}

void QtLoop::wait_until(TimePoint deadline) {
  // What the check before the wait handled may be what the caller waits for.
  if (handled_before_wait_) {
    handled_before_wait_ = false;
    return;
  }
  const bool bounded = deadline != TimePoint::max();
  if (bounded) arm_wait(deadline);
  rearm_due_timer();
  pump(true);
  if (bounded) disarm_wait();
}

void QtLoop::arm_wait(TimePoint deadline) {
  if (wait_fd_ < 0) {
    wait_timer_.start(ms_until(deadline, now()));
    return;
  }
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now());
  // Zero would disarm the timer: a deadline already passed wakes after a nanosecond.
  const long long ns = left.count() > 0 ? left.count() : 1;
  itimerspec when{};
  when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  ::timerfd_settime(wait_fd_, 0, &when, nullptr);
}

void QtLoop::disarm_wait() {
  if (wait_fd_ < 0) {
    wait_timer_.stop();
    return;
  }
  const itimerspec off{};
  ::timerfd_settime(wait_fd_, 0, &off, nullptr);
  std::uint64_t expirations;
  [[maybe_unused]] auto r = ::read(wait_fd_, &expirations, sizeof expirations);
}

void QtLoop::poll_io() {
  const unsigned long before = handled_;
  pump(false);
  handled_before_wait_ = handled_ != before;
}

void QtLoop::wake() {
  rearm_due_timer();
  if (auto* d = QAbstractEventDispatcher::instance()) d->wakeUp();
}

void QtLoop::schedule_changed() {
  rearm_due_timer();
}

void QtLoop::rearm_due_timer() {
  const TimePoint next = next_deadline();
  if (next == TimePoint::max()) {
    due_timer_.stop();
    return;
  }
  due_timer_.start(ms_until(next, now()));
}

void QtLoop::on_due() {
  // Inside one of our own yields the yield runs what is due once processEvents returns.
  // Otherwise Qt's own loop is running (QApplication::exec, a menu): serve the timers here.
  if (pumping_ == 0 && !quit_requested()) yield();
  rearm_due_timer();
}

}  // namespace shoplink
