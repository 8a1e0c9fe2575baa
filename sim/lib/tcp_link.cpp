#include "tcp_link.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace shoplink::sim {

namespace {
constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr std::uint8_t kBinary = 0, kSga = 3, kComPort = 44;
}  // namespace

TcpLink::TcpLink(RealLoop& loop, const std::string& host, int port, bool rfc2217)
    : loop_(loop), rfc2217_(rfc2217), host_(host) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1)
    throw std::runtime_error("--listen: " + host + " is not an IPv4 address");
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listen_fd_, 4) != 0) {
    const std::string why = std::strerror(errno);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " + why);
  }
  socklen_t len = sizeof a;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  listen_watch_ = loop_.add_watch(listen_fd_, POLLIN, [this](short) { on_accept(); });
}

// The shop is built on the link, so it is gone by now: the controller is not touched.
TcpLink::~TcpLink() {
  drop_client();
  stop_listening();
}

void TcpLink::stop_listening() {
  if (listen_watch_ >= 0) loop_.remove_watch(listen_watch_);
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_watch_ = listen_fd_ = -1;
}

std::string TcpLink::address() const {
  return std::string(rfc2217_ ? "rfc2217://" : "tcp://") + host_ + ":" + std::to_string(port_);
}

void TcpLink::attach(PortController& controller) {
  controller_ = &controller;
  controller.attach_host(this);
}

void TcpLink::drop_client() {
  if (client_watch_ >= 0) loop_.remove_watch(client_watch_);
  if (client_ >= 0) ::close(client_);
  client_watch_ = client_ = -1;
  out_.clear();
  held_.clear();
}

void TcpLink::on_accept() {
  const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  drop_client();
  client_ = fd;
  ++connections_;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  state_ = 0;
  com_ = {};
  last_state_ = 0;
  will_binary_ = do_binary_ = will_sga_ = false;
  client_watch_ = loop_.add_watch(fd, POLLIN, [this](short ev) { on_client(ev); });
  update_events();
}

void TcpLink::update_events() {
  if (client_watch_ < 0) return;
  short ev = 0;
  if (held_.size() < kHoldLimit) ev |= POLLIN;
  if (!out_.empty()) ev |= POLLOUT;
  loop_.set_watch_events(client_watch_, ev);
}

void TcpLink::send_raw(std::string_view bytes) {
  if (client_ < 0) return;  // nobody connected: the bytes are lost, as on a real server
  out_.append(bytes);
  flush();
}

void TcpLink::send_to_host(std::uint8_t b) {
  if (rfc2217_ && b == IAC) {
    const char two[2] = {static_cast<char>(IAC), static_cast<char>(IAC)};
    send_raw(std::string_view(two, 2));
  } else {
    const char one = static_cast<char>(b);
    send_raw(std::string_view(&one, 1));
  }
}

void TcpLink::flush() {
  while (client_ >= 0 && !out_.empty()) {
    const ssize_t n = ::send(client_, out_.data(), out_.size(), MSG_NOSIGNAL);
    if (n > 0) {
      out_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      drop_client();
      return;
    }
    break;
  }
  update_events();
}

void TcpLink::cts_changed(bool) {
  pass_held();
  if (rfc2217_ && com_.agreed) notify_modem_state();
}

void TcpLink::power_changed(bool) {
  if (rfc2217_ && com_.agreed) notify_modem_state();
}

void TcpLink::notify_modem_state() {
  const std::uint8_t cts = controller_ && controller_->cts() ? 0x10 : 0x00;
  const std::uint8_t dsr = controller_ && controller_->dsr() ? 0x20 : 0x00;
  const std::uint8_t lines = cts | dsr;
  // The delta bits: CTS (0x01) and DSR (0x02) changed since the last notification.
  const std::uint8_t changed = lines ^ last_state_;
  const std::uint8_t deltas =
      static_cast<std::uint8_t>(((changed & 0x10) ? 0x01 : 0) | ((changed & 0x20) ? 0x02 : 0));
  last_state_ = lines;
  const std::uint8_t state = static_cast<std::uint8_t>((lines | deltas) & com_.modem_mask);
  std::string m{static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(kComPort),
                static_cast<char>(7 + 100), static_cast<char>(state)};
  if (state == IAC) m += static_cast<char>(IAC);
  m += static_cast<char>(IAC);
  m += static_cast<char>(SE);
  send_raw(m);
}

void TcpLink::on_client(short revents) {
  if (revents & POLLOUT) flush();
  if (client_ < 0) return;
  if (!(revents & (POLLIN | POLLHUP | POLLERR)) || held_.size() >= kHoldLimit) {
    if (revents & (POLLHUP | POLLERR)) drop_client();
    return;
  }
  unsigned char buf[64];  // small reads: a CTS drop takes effect soon
  const ssize_t n = ::recv(client_, buf, sizeof buf, 0);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    drop_client();
    return;
  }
  for (ssize_t i = 0; i < n; ++i) {
    if (rfc2217_)
      from_station(buf[i]);
    else
      to_controller(buf[i]);
  }
}

void TcpLink::to_controller(std::uint8_t b) {
  held_.push_back(b);
  pass_held();
}

void TcpLink::pass_held() {
  while (!held_.empty() && controller_ && controller_->cts()) {
    const std::uint8_t b = held_.front();
    held_.pop_front();
    // Sent on the serial side at the rate in force now.
    const std::uint32_t rate = com_.baud != 0 ? com_.baud : port_rate_;
    if (controller_rate_ != 0 && rate != controller_rate_)
      ++wrong_rate_;
    else
      controller_->on_host_byte(b);
  }
  update_events();
}

void TcpLink::from_station(std::uint8_t b) {
  switch (state_) {
    case 0:
      if (b == IAC)
        state_ = 1;
      else
        to_controller(b);
      return;
    case 1:
      if (b == IAC) {
        to_controller(b);
        state_ = 0;
      } else if (b >= WILL && b <= DONT) {
        verb_ = b;
        state_ = 2;
      } else if (b == SB) {
        sb_.clear();
        state_ = 3;
      } else {
        state_ = 0;
      }
      return;
    case 2:
      telnet(verb_, b);
      state_ = 0;
      return;
    case 3:
      if (b == IAC)
        state_ = 4;
      else
        sb_ += static_cast<char>(b);
      return;
    default:
      if (b == SE) {
        sub(sb_);
        state_ = 0;
      } else {
        sb_ += static_cast<char>(b);
        state_ = 3;
      }
      return;
  }
}

void TcpLink::telnet(std::uint8_t verb, std::uint8_t option) {
  auto say = [this](std::uint8_t v, std::uint8_t o) {
    const char m[3] = {static_cast<char>(IAC), static_cast<char>(v), static_cast<char>(o)};
    send_raw(std::string_view(m, 3));
  };
  if (verb == WILL) {
    if (option == kComPort) {
      if (!com_.agreed) say(DO, option);
      com_.agreed = true;
    } else if (option == kBinary) {
      if (!do_binary_) say(DO, option);
      do_binary_ = true;
    } else {
      say(DONT, option);
    }
  } else if (verb == DO) {
    if (option == kBinary) {
      if (!will_binary_) say(WILL, option);
      will_binary_ = true;
    } else if (option == kSga) {
      if (!will_sga_) say(WILL, option);
      will_sga_ = true;
    } else {
      say(WONT, option);
    }
  } else if (verb == WONT && option == kComPort) {
    com_.agreed = false;
  }
}

void TcpLink::sub(const std::string& sb) {
  if (sb.size() < 2 || static_cast<std::uint8_t>(sb[0]) != kComPort) return;
  const auto cmd = static_cast<std::uint8_t>(sb[1]);
  const std::string value = sb.substr(2);
  auto v0 = [&] { return value.empty() ? 0 : static_cast<std::uint8_t>(value[0]); };
  switch (cmd) {
    case 1:
      if (value.size() >= 4)
        com_.baud = (std::uint32_t{static_cast<std::uint8_t>(value[0])} << 24) |
                    (std::uint32_t{static_cast<std::uint8_t>(value[1])} << 16) |
                    (std::uint32_t{static_cast<std::uint8_t>(value[2])} << 8) |
                    std::uint32_t{static_cast<std::uint8_t>(value[3])};
      break;
    case 2:
      com_.data_size = v0();
      break;
    case 3:
      com_.parity = v0();
      break;
    case 4:
      com_.stop_size = v0();
      break;
    case 5:
      if (v0() >= 1 && v0() <= 3) com_.flow = v0();
      if (v0() == 8 || v0() == 9) com_.dtr = v0() == 8;
      if (v0() == 11 || v0() == 12) com_.rts = v0() == 11;
      if (controller_ && v0() >= 8 && v0() <= 12) controller_->on_host_lines(com_.dtr, com_.rts);
      break;
    case 7:
      // Not a setting: the client asks for the modem state, answered with a notification.
      notify_modem_state();
      return;
    case 11:
      com_.modem_mask = v0();
      break;
    default:
      break;
  }
  // The server's answer: the same command + 100, echoing the value.
  std::string m{static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(kComPort),
                static_cast<char>(cmd + 100)};
  for (char c : value) {
    m += c;
    if (static_cast<std::uint8_t>(c) == IAC) m += c;
  }
  m += static_cast<char>(IAC);
  m += static_cast<char>(SE);
  send_raw(m);
  if (cmd == 11) notify_modem_state();  // the station learns the CTS state at once
}

}  // namespace shoplink::sim
