#include "base/posix_serial_port.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace shoplink {

namespace {
bool speed_for(long baud, speed_t& out) {
  switch (baud) {
    case 110:
      out = B110;
      return true;
    case 134:
    case 135:
      out = B134;
      return true;
    case 150:
      out = B150;
      return true;
    case 300:
      out = B300;
      return true;
    case 600:
      out = B600;
      return true;
    case 1200:
      out = B1200;
      return true;
    case 2400:
      out = B2400;
      return true;
    case 4800:
      out = B4800;
      return true;
    case 9600:
      out = B9600;
      return true;
    case 19200:
      out = B19200;
      return true;
    case 38400:
      out = B38400;
      return true;
    case 57600:
      out = B57600;
      return true;
    case 115200:
      out = B115200;
      return true;
    default:
      return false;
  }
}
}  // namespace

bool PosixSerialPort::rate_supported(long baud) {
  speed_t unused;
  return speed_for(baud, unused);
}

PosixSerialPort::PosixSerialPort(IoLoop& loop,
                                 std::function<std::string(const std::string&)> device_for)
    : loop_(loop), device_for_(std::move(device_for)) {}

PosixSerialPort::~PosixSerialPort() {
  if (is_open()) do_close();
}

bool PosixSerialPort::do_open() {
  open_error_.clear();
  settings_unusable_ = false;
  device_ = device_for_(port_number());
  speed_t speed;
  if (!speed_for(settings_baud(settings()), speed)) {
    open_error_ = "unsupported line settings " + settings();
    settings_unusable_ = true;
    return false;
  }
  if (device_.empty()) {
    open_error_ = "COM" + port_number() + " names no device";
    settings_unusable_ = true;
    return false;
  }
  int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    open_error_ = device_ + ": " + std::strerror(errno);
    // A folder, or a path through a file, is never a device. Absent, busy or refused may
    // mend itself (an adapter plugged in, a group granted).
    settings_unusable_ = errno == EISDIR || errno == ENOTDIR;
    return false;
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    open_error_ = device_ + ": not a terminal device";
    settings_unusable_ = true;
    ::close(fd);
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    open_error_ = device_ + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  power_.reset();
  apply_rts(rts());
  apply_dtr(dtr());
  input_none_ = hung_up_ = watch_output_ = false;
  watch_ = loop_.add_watch(fd_, 0, [this](short revents) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) input_seen(revents);
    if (watch_output_) flush_pending();  // room, or an error the write will report
  });
  int bits = 0;
  no_modem_lines_ = ::ioctl(fd_, TIOCMGET, &bits) != 0;
  paced_ = pacing_allowed() && no_modem_lines_;
  if (paced_) {
    pacer_.set_baud(settings_baud(settings()));
    pacer_.reset();
    timer_fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_fd_ >= 0) {
      // Watched only while armed: every poll the station sleeps in is one descriptor lighter.
      timer_watch_ = loop_.add_watch(timer_fd_, 0, [this](short) {
        std::uint64_t ticks = 0;
        [[maybe_unused]] auto r = ::read(timer_fd_, &ticks, sizeof ticks);
        loop_.set_watch_events(timer_watch_, 0);
        flush_pending();
      });
    }
  }
  return true;
}

void PosixSerialPort::do_close() {
  if (watch_ >= 0) loop_.remove_watch(watch_);
  watch_ = -1;
  if (timer_watch_ >= 0) loop_.remove_watch(timer_watch_);
  timer_watch_ = -1;
  if (timer_fd_ >= 0) ::close(timer_fd_);
  timer_fd_ = -1;
  paced_ = false;
  ::close(fd_);
  fd_ = -1;
  pending_.clear();
  pending_head_ = 0;
  output_error_.clear();
}

void PosixSerialPort::set_modem_line(int bit, bool on) {
  if (fd_ < 0) return;
  // Fails with ENOTTY/EINVAL on a pseudo-terminal: there is no such line to drive.
  ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
}

void PosixSerialPort::apply_dtr(bool on) {
  set_modem_line(TIOCM_DTR, on);
  power_.dtr_changed(on, loop_.now());
}
void PosixSerialPort::apply_rts(bool on) {
  set_modem_line(TIOCM_RTS, on);
}

bool PosixSerialPort::cts() {
  if (fd_ < 0) return false;
  if (no_modem_lines_) return true;  // CTS reads as on; asked per character, so not re-tried
  int bits = 0;
  if (::ioctl(fd_, TIOCMGET, &bits) != 0) return true;
  // Read with CTS, which the station asks per character and every display tick: a restart
  // is known before the CTS that comes back with the controller lets a transfer go on.
  if (power_.seen((bits & TIOCM_DSR) != 0, loop_.now())) {
    ++restarts_seen_;
    raise_comm_event(kControllerRestartEvent);
  }
  return (bits & TIOCM_CTS) != 0;
}

int PosixSerialPort::waiting_now() {
  int n = 0;
  if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &n) != 0) return -1;
  return n;
}

int PosixSerialPort::in_buffer_count() {
  if (fd_ < 0 || input_none_) return 0;
  const int n = waiting_now();
  if (n == 0 && !hung_up_) {
    input_none_ = true;  // from now on the loop tells when something comes
    watch(watch_output_);
  }
  return std::max(n, 0);
}

void PosixSerialPort::input_seen(short revents) {
  input_none_ = false;
  // A hung-up terminal reads as readable for ever: watched, it would wake the loop at every
  // poll. The device is asked every time instead.
  if (revents & (POLLHUP | POLLERR)) hung_up_ = true;
  watch(watch_output_);
}

void PosixSerialPort::watch(bool for_output) {
  watch_output_ = for_output;
  if (watch_ >= 0)
    loop_.set_watch_events(
        watch_, static_cast<short>((input_none_ ? POLLIN : 0) | (for_output ? POLLOUT : 0)));
}

void PosixSerialPort::clear_in_buffer() {
  if (fd_ < 0) return;
  ::tcflush(fd_, TCIFLUSH);
  // A pseudo-terminal may ignore the flush: drain what is readable now, but no more than
  // was waiting, so a sender that never pauses cannot hold the station here.
  input_none_ = false;
  int left = std::max(waiting_now(), 0);
  char buf[4096];
  while (left > 0) {
    ssize_t n = ::read(fd_, buf, std::min(sizeof buf, static_cast<std::size_t>(left)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    left -= static_cast<int>(n);
  }
}

int PosixSerialPort::out_buffer_count() {
  if (fd_ < 0) return 0;
  flush_pending();
  int n = 0;
  if (paced_)
    n = pacer_.on_wire(loop_.now());  // TIOCOUTQ has nothing to say here
  else if (::ioctl(fd_, TIOCOUTQ, &n) != 0)
    n = 0;
  return n + static_cast<int>(pending_.size() - pending_head_);
}

std::size_t PosixSerialPort::output_room() {
  if (!paced_) return SerialPort::output_room();
  flush_pending();
  if (output_held() > 0) return 0;  // the device is full: its room comes from the loop
  return pacer_.room(loop_.now());
}

Duration PosixSerialPort::output_room_in() {
  if (!paced_ || output_held() > 0) return Duration::zero();
  return std::max(pacer_.next_slot() - loop_.now(), Duration::zero());
}

void PosixSerialPort::clear_out_buffer() {
  pending_.clear();
  pending_head_ = 0;
  pacer_.reset();
  watch(false);
  if (fd_ >= 0) ::tcflush(fd_, TCOFLUSH);
}

std::string PosixSerialPort::read() {
  std::string out;
  if (fd_ < 0) return out;
  char buf[4096];
  const std::size_t want = input_len() == 1 ? 1 : sizeof buf;
  for (;;) {
    ssize_t n = ::read(fd_, buf, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // nothing waiting (EAGAIN), or the line is gone
    out.append(buf, static_cast<std::size_t>(n));
    if (input_len() == 1 || static_cast<std::size_t>(n) < want) break;
  }
  return out;
}

void PosixSerialPort::write(std::string_view bytes) {
  if (fd_ < 0 || bytes.empty()) return;
  if (pending_head_ == pending_.size()) last_taken_ = loop_.now();
  const std::size_t held = output_held();
  const bool dead = !output_error_.empty() || loop_.now() - last_taken_ >= kOutputStall;
  if (dead && held + bytes.size() > kDeadOutputLimit)
    bytes = bytes.substr(0, kDeadOutputLimit - std::min(held, kDeadOutputLimit));
  pending_.append(bytes);
  flush_pending();
}

void PosixSerialPort::flush_pending() {
  if (fd_ < 0) return;
  bool refused = false;    // the device failed for another reason than a full buffer
  bool pace_wait = false;  // the rest waits for its time on the line
  while (pending_head_ < pending_.size()) {
    std::size_t want = pending_.size() - pending_head_;
    if (paced_) {
      want = pacer_.take(loop_.now(), want);
      if (want == 0) {
        pace_wait = true;
        break;
      }
    }
    ssize_t n = ::write(fd_, pending_.data() + pending_head_, want);
    if (paced_) pacer_.give_back(want - static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0) {
      pending_head_ += static_cast<std::size_t>(n);
      last_taken_ = loop_.now();
      output_error_.clear();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    refused = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
    if (refused) output_error_ = std::strerror(errno);
    break;  // keep the bytes, try again later
  }
  if (pending_head_ == pending_.size()) {
    pending_.clear();
    pending_head_ = 0;
  } else if (pending_head_ > 65536) {
    pending_.erase(0, pending_head_);
    pending_head_ = 0;
  }
  const bool waiting = pending_head_ < pending_.size();
  // Wait for room from the loop; a device in error (hung up) is retried on the next call
  // instead, so it cannot keep waking the loop.
  watch(waiting && !refused && !pace_wait);
  if (pace_wait) arm_pacing_timer();
}

void PosixSerialPort::arm_pacing_timer() {
  if (timer_fd_ < 0) return;
  auto left = pacer_.next_slot() - loop_.now();
  if (left < std::chrono::microseconds(1)) left = std::chrono::microseconds(1);
  itimerspec its{};
  its.it_value.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
  its.it_value.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
  ::timerfd_settime(timer_fd_, 0, &its, nullptr);
  loop_.set_watch_events(timer_watch_, POLLIN);
}

}  // namespace shoplink
