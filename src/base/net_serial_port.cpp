#include "base/net_serial_port.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/text.hpp"

namespace shoplink {

namespace {
// RFC 2217 client commands (the server answers each with the code + 100).
constexpr std::uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                       kSetControl = 5, kNotifyModemState = 7, kSetModemMask = 11, kPurge = 12;
constexpr std::uint8_t kAnswer = 100;  // the server answers command n with n + 100
constexpr std::uint8_t kModemCts = 0x10, kModemDeltaCts = 0x01, kModemDsr = 0x20,
                       kModemDeltaDsr = 0x02;
// The four settings whose answers open the line for data (bits 1 to 4).
constexpr unsigned kSettingsAnswered =
    (1u << kSetBaud) | (1u << kSetDataSize) | (1u << kSetParity) | (1u << kSetStopSize);
constexpr std::uint8_t kControlNoFlow = 1, kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12;
constexpr std::uint8_t kParityNone = 1, kStopOne = 1;
constexpr std::size_t kInputLimit = 64 * 1024;  // beyond this TCP holds the server back

int make_timer() {
  return ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
}

// "ADDRESS: reason", the reason as a sentence goes on ("connection refused").
std::string failure(const std::string& device, std::string reason) {
  if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z' &&
      (reason.size() < 2 || !(reason[1] >= 'A' && reason[1] <= 'Z')))
    reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
  return device + ": " + reason;
}

// A non-blocking socket connected (or connecting, when `limit` is zero) to `a`; -1 with
// `error` set when it cannot be.
int connect_to(const NetSerialPort::Address& a, const std::string& device, std::string& error,
               Duration limit) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (int rc = ::getaddrinfo(a.host.c_str(), a.port.c_str(), &hints, &res); rc != 0) {
    error = failure(device, ::gai_strerror(rc));
    return -1;
  }
  int fd = -1;
  for (addrinfo* ai = res; ai; ai = ai->ai_next) {
    fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // paced characters go now
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) break;
    if (errno == EINPROGRESS) {
      if (limit == Duration::zero()) break;  // the loop sees it finish
      pollfd p{fd, POLLOUT, 0};
      const int ms =
          static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(limit).count());
      int err = ETIMEDOUT;
      socklen_t len = sizeof err;
      if (::poll(&p, 1, ms) == 1) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err == 0) break;
      errno = err;
    }
    error = failure(device, std::strerror(errno));
    ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(res);
  return fd;
}
}  // namespace

std::optional<NetSerialPort::Address> NetSerialPort::parse(std::string_view value) {
  Address a;
  const std::string u = ucase(value);
  std::size_t skip = 0;
  if (u.starts_with("TCP://")) {
    skip = 6;
  } else if (u.starts_with("RFC2217://")) {
    skip = 10;
    a.protocol = Protocol::Rfc2217;
  } else {
    return std::nullopt;
  }
  std::string_view rest = value.substr(skip);
  while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  const auto colon = rest.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 >= rest.size())
    return std::nullopt;
  a.host = std::string(rest.substr(0, colon));
  a.port = std::string(rest.substr(colon + 1));
  if (a.host.size() > 2 && a.host.front() == '[' && a.host.back() == ']')
    a.host = a.host.substr(1, a.host.size() - 2);
  if (a.port.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return a;
}

NetSerialPort::NetSerialPort(IoLoop& loop,
                             std::function<std::string(const std::string&)> device_for)
    : loop_(loop), device_for_(std::move(device_for)) {}

NetSerialPort::~NetSerialPort() {
  if (open_) do_close();
}

int NetSerialPort::connect_socket(std::string& error, bool wait) {
  return connect_to(address_, device_, error, wait ? kConnectTimeout : Duration::zero());
}

std::string NetSerialPort::try_connect(std::string_view value, Duration limit) {
  const auto a = parse(value);
  const std::string device(value);
  if (!a) return failure(device, "not a tcp:// or rfc2217:// address");
  std::string error;
  const int fd = connect_to(*a, device, error, limit);
  if (fd >= 0) ::close(fd);
  return error;
}

bool NetSerialPort::do_open() {
  open_error_.clear();
  device_ = device_for_(port_number());
  auto a = parse(device_);
  if (!a) {
    open_error_ = failure(device_, "not a tcp:// or rfc2217:// address");
    return false;
  }
  address_ = *a;
  const int fd = connect_socket(open_error_, true);
  if (fd < 0) return false;
  pace_fd_ = make_timer();
  retry_fd_ = make_timer();
  setup_fd_ = make_timer();
  // The timers are watched only while armed: every poll the station sleeps in, a paced
  // line's once a burst, is that much lighter.
  if (pace_fd_ >= 0)
    pace_watch_ = loop_.add_watch(pace_fd_, 0, [this](short) {
      expired(pace_fd_, pace_watch_);
      flush();
    });
  if (retry_fd_ >= 0)
    retry_watch_ = loop_.add_watch(retry_fd_, 0, [this](short) {
      expired(retry_fd_, retry_watch_);
      retry();
    });
  if (setup_fd_ >= 0)
    setup_watch_ = loop_.add_watch(setup_fd_, 0, [this](short) {
      expired(setup_fd_, setup_watch_);
      setup_over();
    });
  open_ = true;
  fd_ = fd;
  watch_ = loop_.add_watch(fd_, POLLIN, [this](short ev) { on_io(ev); });
  retry_delay_ = kFirstRetry;
  connected_now();
  return true;
}

void NetSerialPort::do_close() {
  if (watch_ >= 0) loop_.remove_watch(watch_);
  if (pace_watch_ >= 0) loop_.remove_watch(pace_watch_);
  if (retry_watch_ >= 0) loop_.remove_watch(retry_watch_);
  if (setup_watch_ >= 0) loop_.remove_watch(setup_watch_);
  watch_ = pace_watch_ = retry_watch_ = setup_watch_ = -1;
  for (int* fd : {&fd_, &pace_fd_, &retry_fd_, &setup_fd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  open_ = connected_ = connecting_ = false;
  in_.clear();
  pending_.clear();
  wire_.clear();
}

void NetSerialPort::connected_now() {
  connected_ = true;
  connecting_ = false;
  lost_.clear();
  send_error_.clear();
  cts_ = true;
  com_port_agreed_ = false;
  tn_ = Tn::Data;
  connected_at_ = loop_.now();
  carried_data_ = false;
  setup_ = Setup::Waiting;
  answered_ = 0;
  answered_baud_ = 0;
  setup_over_ = false;
  modem_known_ = false;
  power_.reset();
  power_.dtr_changed(dtr(), loop_.now());
  pacer_.set_baud(settings_baud(settings()));
  pacer_.reset();
  if (watch_ >= 0) loop_.set_watch_events(watch_, POLLIN);
  if (address_.protocol == Protocol::Rfc2217) {
    arm(setup_fd_, setup_watch_, kSetupWait);
    // Offer COM Port Control and an 8-bit clean stream both ways; the line settings follow
    // once the server agrees (no COM Port command may go before that).
    const std::uint8_t offer[] = {IAC, WILL, kComPort, IAC, WILL, kBinary,
                                  IAC, DO,   kBinary,  IAC, DO,   kSga};
    wire_.append(reinterpret_cast<const char*>(offer), sizeof offer);
  }
  send_wire();
}

void NetSerialPort::send_settings() {
  const long baud = settings_baud(settings());
  const std::uint32_t b = static_cast<std::uint32_t>(baud > 0 ? baud : 9600);
  const char rate[4] = {static_cast<char>(b >> 24), static_cast<char>(b >> 16),
                        static_cast<char>(b >> 8), static_cast<char>(b)};
  com_port_command(kSetBaud, std::string_view(rate, 4));
  com_port_command(kSetDataSize, std::string(1, 8));
  com_port_command(kSetParity, std::string(1, static_cast<char>(kParityNone)));
  com_port_command(kSetStopSize, std::string(1, static_cast<char>(kStopOne)));
  // The station does its own Xon/Xoff and CTS checks: no flow control in the server.
  com_port_command(kSetControl, std::string(1, static_cast<char>(kControlNoFlow)));
  com_port_command(kSetControl, std::string(1, static_cast<char>(dtr() ? kDtrOn : kDtrOff)));
  com_port_command(kSetControl, std::string(1, static_cast<char>(rts() ? kRtsOn : kRtsOff)));
  // CTS for the handshake, DSR for the controller's power (see ControllerPower).
  com_port_command(kSetModemMask, std::string(1, static_cast<char>(kModemCts | kModemDeltaCts |
                                                                   kModemDsr | kModemDeltaDsr)));
  // And the modem state now, not only at its next change: the start-up's CTS check needs it.
  com_port_command(kNotifyModemState, std::string(1, '\0'));
}

void NetSerialPort::settings_answered(std::uint8_t command, std::string_view value) {
  if (command < kSetBaud || command > kSetStopSize) return;
  answered_ |= 1u << command;
  if (command == kSetBaud && value.size() >= 4)
    answered_baud_ = (std::uint32_t{static_cast<std::uint8_t>(value[0])} << 24) |
                     (std::uint32_t{static_cast<std::uint8_t>(value[1])} << 16) |
                     (std::uint32_t{static_cast<std::uint8_t>(value[2])} << 8) |
                     std::uint32_t{static_cast<std::uint8_t>(value[3])};
  if (setup_ == Setup::Waiting && (answered_ & kSettingsAnswered) == kSettingsAnswered) {
    setup_ = Setup::Confirmed;
    flush();
  }
}

void NetSerialPort::modem_state(std::uint8_t state) {
  cts_ = (state & kModemCts) != 0;
  modem_known_ = true;
  if (power_.seen((state & kModemDsr) != 0, loop_.now())) {
    ++restarts_seen_;
    raise_comm_event(kControllerRestartEvent);
  }
}

void NetSerialPort::setup_over() {
  if (!connected_ || setup_over_) return;
  setup_over_ = true;
  if (setup_ == Setup::Waiting) {
    setup_ = Setup::NoAnswer;  // the data go with whatever settings the server has
    flush();
  }
}

bool NetSerialPort::setting_up() const {
  if (!connected_ || address_.protocol != Protocol::Rfc2217) return false;
  return setup_ == Setup::Waiting || (!modem_known_ && !setup_over_);
}

bool NetSerialPort::modem_state_known() const {
  return address_.protocol != Protocol::Rfc2217 || modem_known_;
}

std::string NetSerialPort::setup_note() const {
  if (address_.protocol != Protocol::Rfc2217 || setting_up()) return {};
  const long wanted = settings_baud(settings()) > 0 ? settings_baud(settings()) : 9600;
  const std::string wait =
      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kSetupWait).count());
  std::string note;
  switch (setup_) {
    case Setup::Confirmed:
      note = "COM Port Control agreed, " + std::to_string(wanted) +
             " baud 8 data bits no parity 1 stop bit answered";
      if (answered_baud_ != 0 && answered_baud_ != static_cast<std::uint32_t>(wanted))
        note += " (the server set " + std::to_string(answered_baud_) + " baud)";
      break;
    case Setup::Refused:
      note = "the device server refused COM Port Control: its own line settings apply";
      break;
    default:
      note = "line settings not answered within " + wait +
             " s: data sent with the device server's own settings";
      break;
  }
  if (modem_known_)
    note += cts_ ? ", CTS on" : ", CTS off";
  else
    note += ", no modem state within " + wait + " s: CTS taken as on";
  return note;
}

void NetSerialPort::com_port_command(std::uint8_t command, std::string_view value) {
  wire_ += static_cast<char>(IAC);
  wire_ += static_cast<char>(SB);
  wire_ += static_cast<char>(kComPort);
  wire_ += static_cast<char>(command);
  for (char c : value) {
    wire_ += c;
    if (static_cast<std::uint8_t>(c) == IAC) wire_ += c;
  }
  wire_ += static_cast<char>(IAC);
  wire_ += static_cast<char>(SE);
}

void NetSerialPort::apply_dtr(bool on) {
  power_.dtr_changed(on, loop_.now());
  if (!connected_ || !com_port_agreed_) return;
  com_port_command(kSetControl, std::string(1, static_cast<char>(on ? kDtrOn : kDtrOff)));
  send_wire();
}

void NetSerialPort::apply_rts(bool on) {
  if (!connected_ || !com_port_agreed_) return;
  com_port_command(kSetControl, std::string(1, static_cast<char>(on ? kRtsOn : kRtsOff)));
  send_wire();
}

void NetSerialPort::drop(const std::string& why) {
  if (!connected_ && !connecting_) return;
  const bool was_connected = connected_;
  if (watch_ >= 0) loop_.remove_watch(watch_);
  watch_ = -1;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connected_ = connecting_ = false;
  if (was_connected) {
    ++drops_;
    lost_ = why;
    if (carried_data_ || loop_.now() - connected_at_ >= kGoodConnection) retry_delay_ = kFirstRetry;
  }
  // What had arrived stays for the station to read; what had not gone out is void.
  pending_.clear();
  wire_.clear();
  pacer_.reset();
  schedule_retry();
}

Duration NetSerialPort::backoff_after(Duration delay) {
  return std::min(delay * 2, kLongestRetry);
}

void NetSerialPort::schedule_retry() {
  arm(retry_fd_, retry_watch_, retry_delay_);
  retry_delay_ = backoff_after(retry_delay_);
}

void NetSerialPort::retry() {
  if (!open_ || connected_ || connecting_) return;
  std::string error;
  const int fd = connect_socket(error, false);
  if (fd < 0) {
    schedule_retry();
    return;
  }
  fd_ = fd;
  connecting_ = true;
  watch_ = loop_.add_watch(fd_, POLLOUT, [this](short ev) { on_io(ev); });
}

void NetSerialPort::on_io(short revents) {
  if (connecting_) {
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0 || (revents & (POLLERR | POLLHUP))) {
      if (watch_ >= 0) loop_.remove_watch(watch_);
      watch_ = -1;
      ::close(fd_);
      fd_ = -1;
      connecting_ = false;
      schedule_retry();
      return;
    }
    ++reconnects_;
    connected_now();
    return;
  }
  if (revents & POLLOUT) send_wire();
  if (revents & (POLLIN | POLLHUP | POLLERR)) pump();
}

void NetSerialPort::pump() {
  if (!connected_) return;
  char buf[4096];
  while (connected_ && in_.size() < kInputLimit) {
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      take_input(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    drop(n == 0 ? std::string("closed by the device server") : std::string(std::strerror(errno)));
    return;
  }
  if (watch_ >= 0)
    loop_.set_watch_events(watch_, static_cast<short>((in_.size() < kInputLimit ? POLLIN : 0) |
                                                      (wire_.empty() ? 0 : POLLOUT)));
}

void NetSerialPort::take_input(const char* data, std::size_t n) {
  if (address_.protocol == Protocol::Raw) {
    in_.append(data, n);
    carried_data_ = carried_data_ || n > 0;
    return;
  }
  for (std::size_t i = 0; i < n; ++i) telnet_byte(static_cast<std::uint8_t>(data[i]));
  if (!wire_.empty()) send_wire();  // answers to the server's negotiation
}

void NetSerialPort::telnet_byte(std::uint8_t b) {
  switch (tn_) {
    case Tn::Data:
      if (b == IAC) {
        tn_ = Tn::Iac;
      } else {
        in_ += static_cast<char>(b);
        carried_data_ = true;
      }
      return;
    case Tn::Iac:
      if (b == IAC) {  // an escaped 255 data byte
        in_ += static_cast<char>(b);
        carried_data_ = true;
        tn_ = Tn::Data;
      } else if (b == DO || b == DONT || b == WILL || b == WONT) {
        tn_verb_ = b;
        tn_ = Tn::Verb;
      } else if (b == SB) {
        sb_.clear();
        tn_ = Tn::Sb;
      } else {
        tn_ = Tn::Data;  // NOP, GA and the like carry nothing for the station
      }
      return;
    case Tn::Verb:
      negotiate(tn_verb_, b);
      tn_ = Tn::Data;
      return;
    case Tn::Sb:
      if (b == IAC)
        tn_ = Tn::SbIac;
      else if (sb_.size() < 256)
        sb_ += static_cast<char>(b);
      return;
    case Tn::SbIac:
      if (b == SE) {
        subnegotiation();
        tn_ = Tn::Data;
      } else {
        if (sb_.size() < 256) sb_ += static_cast<char>(b);  // IAC IAC inside: one 255
        tn_ = Tn::Sb;
      }
      return;
  }
}

void NetSerialPort::negotiate(std::uint8_t verb, std::uint8_t option) {
  const bool ours = option == kComPort || option == kBinary || option == kSga;
  std::uint8_t answer = 0;
  if (verb == DO) {
    if (option == kComPort) {
      if (com_port_agreed_) return;  // already agreed: answering again would loop
      com_port_agreed_ = true;
      send_settings();
      return;  // our WILL already went out with the offer
    }
    answer = ours ? WILL : WONT;
    if (ours) return;  // offered at connect
  } else if (verb == DONT) {
    if (option == kComPort) refused_com_port();
    if (ours) return;  // refused: we simply go without it
    answer = WONT;
  } else if (verb == WILL) {
    if (ours) return;  // asked for at connect
    answer = DONT;
  } else {  // WONT
    if (option == kComPort) refused_com_port();
    return;
  }
  const std::uint8_t msg[] = {IAC, answer, option};
  wire_.append(reinterpret_cast<const char*>(msg), sizeof msg);
}

void NetSerialPort::subnegotiation() {
  if (sb_.size() < 2 || static_cast<std::uint8_t>(sb_[0]) != kComPort) return;
  const auto command = static_cast<std::uint8_t>(sb_[1]);
  if (command == kNotifyModemState + kAnswer && sb_.size() >= 3)
    modem_state(static_cast<std::uint8_t>(sb_[2]));
  else if (command > kAnswer)
    settings_answered(static_cast<std::uint8_t>(command - kAnswer),
                      std::string_view(sb_).substr(2));
}

void NetSerialPort::refused_com_port() {
  com_port_agreed_ = false;
  if (setup_ != Setup::Waiting) return;
  setup_ = Setup::Refused;  // no settings and no modem state will come
  setup_over_ = true;
  flush();
}

void NetSerialPort::send_wire() {
  while (connected_ && !wire_.empty()) {
    const ssize_t n = ::send(fd_, wire_.data(), wire_.size(), MSG_NOSIGNAL);
    if (n > 0) {
      wire_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    send_error_ = std::strerror(errno);
    drop(send_error_);
    return;
  }
  if (watch_ >= 0)
    loop_.set_watch_events(watch_, static_cast<short>((in_.size() < kInputLimit ? POLLIN : 0) |
                                                      (wire_.empty() ? 0 : POLLOUT)));
}

void NetSerialPort::flush() {
  // Until the server has taken the line settings, data waits (see the class comment).
  if (!connected_ || (address_.protocol == Protocol::Rfc2217 && setup_ == Setup::Waiting)) return;
  std::size_t n = pending_.size();
  if (paced()) n = pacer_.take(loop_.now(), n);
  for (std::size_t i = 0; i < n; ++i) {
    // A server that has stopped reading holds at most the limit; the rest is dropped.
    if (wire_.size() >= kDeadOutputLimit) break;
    const char c = pending_[i];
    wire_ += c;
    if (address_.protocol == Protocol::Rfc2217 && static_cast<std::uint8_t>(c) == IAC) wire_ += c;
  }
  pending_.erase(0, n);
  send_wire();
  if (!pending_.empty()) arm(pace_fd_, pace_watch_, pacer_.next_slot() - loop_.now());
}

void NetSerialPort::arm(int timer_fd, int watch, Duration after) {
  if (timer_fd < 0) return;
  if (after < std::chrono::microseconds(1)) after = std::chrono::microseconds(1);
  itimerspec its{};
  its.it_value.tv_sec = static_cast<time_t>(after.count() / 1'000'000'000);
  its.it_value.tv_nsec = static_cast<long>(after.count() % 1'000'000'000);
  ::timerfd_settime(timer_fd, 0, &its, nullptr);
  if (watch >= 0) loop_.set_watch_events(watch, POLLIN);
}

void NetSerialPort::expired(int timer_fd, int watch) {
  std::uint64_t ticks;
  [[maybe_unused]] auto r = ::read(timer_fd, &ticks, sizeof ticks);
  loop_.set_watch_events(watch, 0);
}

bool NetSerialPort::cts() {
  // Asked per character: the loop's watch has read what came; in_buffer_count() reads on.
  return connected_ && cts_;
}

int NetSerialPort::in_buffer_count() {
  // While the loop watches the socket it reads what comes as it comes (on_io): the poll the
  // station slept in has told, and a paced line asks before every burst.
  if (!watching_input()) pump();
  return static_cast<int>(in_.size());
}

bool NetSerialPort::watching_input() const {
  return connected_ && watch_ >= 0 && in_.size() < kInputLimit;
}

void NetSerialPort::clear_in_buffer() {
  pump();
  in_.clear();
  if (connected_ && address_.protocol == Protocol::Rfc2217 && com_port_agreed_) {
    com_port_command(kPurge, std::string(1, 1));  // the server's receive buffer
    send_wire();
  }
}

int NetSerialPort::out_buffer_count() {
  flush();
  int n = static_cast<int>(pending_.size() + wire_.size());
  if (paced()) n += pacer_.on_wire(loop_.now());
  return n;
}

std::size_t NetSerialPort::output_room() {
  if (!paced()) return SerialPort::output_room();
  flush();
  if (!pending_.empty() || !wire_.empty()) return 0;
  return pacer_.room(loop_.now());
}

Duration NetSerialPort::output_room_in() {
  if (!paced() || !pending_.empty() || !wire_.empty()) return Duration::zero();
  return std::max(pacer_.next_slot() - loop_.now(), Duration::zero());
}

void NetSerialPort::clear_out_buffer() {
  pending_.clear();
  pacer_.reset();
  if (connected_ && address_.protocol == Protocol::Rfc2217 && com_port_agreed_) {
    com_port_command(kPurge, std::string(1, 2));  // the server's transmit buffer
    send_wire();
  }
}

std::string NetSerialPort::read() {
  pump();
  std::string out;
  if (in_.empty()) return out;
  if (input_len() == 1) {
    out = in_.substr(0, 1);
    in_.erase(0, 1);
  } else {
    out.swap(in_);
  }
  if (connected_ && watch_ >= 0) pump();  // room again: read on
  return out;
}

void NetSerialPort::write(std::string_view bytes) {
  if (!connected_ || bytes.empty()) return;  // see the class comment: nothing goes late
  pending_.append(bytes);
  flush();
}

std::string NetSerialPort::output_error() const {
  if (!connected_ && open_) return lost_.empty() ? std::string("not connected") : lost_;
  return send_error_;
}

}  // namespace shoplink
