#pragma once
// The station's loop inside Qt's, on the one GUI thread: timers fall due on a QTimer, the
// host line is watched by QSocketNotifiers, and a yield is a bounded nested processEvents, so
// the window repaints and takes clicks while a transfer runs.
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <vector>

#include "base/io_loop.hpp"

namespace shoplink {

class QtLoop final : public IoLoop {
 public:
  // Needs a QCoreApplication (or QApplication) to exist.
  explicit QtLoop(Clock& clock);
  ~QtLoop() override;

  int add_watch(int fd, short events, IoHandler handler) override;
  void set_watch_events(int watch, short events) override;
  void remove_watch(int watch) override;
  void on_signal(int signo, std::function<void()> handler) override;

 protected:
  void wait_until(TimePoint deadline) override;
  void poll_io() override;
  void wake() override;
  void schedule_changed() override;

 private:
  struct Watch {
    std::unique_ptr<QSocketNotifier> read, write;
    IoHandler handler;
  };
  void pump(bool block);
  void on_ready(int watch, short what);
  void on_due();
  void rearm_due_timer();
  void arm_wait(TimePoint deadline);
  void disarm_wait();

  QObject context_;    // owns the connections, so none outlives the loop
  QTimer due_timer_;   // the next station timer or posted event
  QTimer wait_timer_;  // the limit of a bounded yield, where no timerfd is to be had
  // The limit of a bounded yield to the nanosecond: a QTimer counts whole milliseconds, and a
  // paced line's 3 ms bursts rounded up to 4 ms would leave the line idle a quarter of the
  // time.
  int wait_fd_ = -1;
  std::unique_ptr<QSocketNotifier> wait_notifier_;
  std::vector<Watch> watches_;
  int pumping_ = 0;                   // nested processEvents of ours on the stack
  unsigned long handled_ = 0;         // I/O and signal handlers run so far
  bool handled_before_wait_ = false;  // the last poll_io() ran one
  int signal_pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> signal_notifier_;
  std::vector<std::pair<int, std::function<void()>>> signal_handlers_;
};

}  // namespace shoplink
