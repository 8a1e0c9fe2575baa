#include "pty_link.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace shoplink::sim {

PtyLink::PtyLink(RealLoop& loop) : loop_(loop) {
  char name[256] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
    throw std::runtime_error("cannot open a pseudo-terminal");
  device_ = name;
  termios t{};
  if (::tcgetattr(slave_, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
  }
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  watch_ = loop_.add_watch(master_, POLLIN, [this](short revents) { on_io(revents); });
}

PtyLink::~PtyLink() {
  if (controller_) controller_->attach_host(nullptr);
  if (watch_ >= 0) loop_.remove_watch(watch_);
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
}

void PtyLink::attach(PortController& controller) {
  controller_ = &controller;
  controller.attach_host(this);
  reading_ = controller.cts();
  update_events();
}

void PtyLink::update_events() {
  short ev = 0;
  if (reading_) ev |= POLLIN;
  if (!out_.empty()) ev |= POLLOUT;
  loop_.set_watch_events(watch_, ev);
}

void PtyLink::send_to_host(std::uint8_t b) {
  out_.push_back(static_cast<char>(b));
  flush();
}

void PtyLink::flush() {
  while (!out_.empty()) {
    const ssize_t n = ::write(master_, out_.data(), out_.size());
    if (n > 0) {
      bytes_out_ += n;
      out_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // full (EAGAIN): wait for POLLOUT; other errors: keep the bytes, retry later
  }
  update_events();
}

void PtyLink::cts_changed(bool on) {
  reading_ = on;
  update_events();
}

void PtyLink::on_io(short revents) {
  if (revents & POLLOUT) flush();
  if (!(revents & POLLIN) || !reading_) return;
  unsigned char buf[64];  // small reads: a CTS drop takes effect soon
  const ssize_t n = ::read(master_, buf, sizeof buf);
  if (n <= 0) return;  // EAGAIN, or EIO while nobody has the slave open
  bytes_in_ += n;
  // Bytes already read are all passed on, in order, even if CTS drops among them.
  for (ssize_t i = 0; i < n; ++i)
    if (controller_) controller_->on_host_byte(buf[i]);
}

}  // namespace shoplink::sim
