#include "port_controller.hpp"

#include <algorithm>
#include <cctype>
#include <utility>

namespace shoplink::sim {

namespace {
constexpr std::uint8_t kDc4 = 20;
constexpr std::size_t kInboundLimit = 1 << 20;  // a port buffer beyond this overflows
}  // namespace

PortController::PortController(EventLoop& loop, ControllerOptions opts)
    : loop_(loop), opts_(std::move(opts)) {
  if (opts_.initial_port >= 1 && opts_.initial_port <= kPorts) selected_ = opts_.initial_port;
  machine_baud_.fill(0);
  out_busy_.fill(false);
  overrun_.fill(false);
}

void PortController::attach_machine(int port, MachineSink sink, long machine_baud) {
  sinks_.at(port) = std::move(sink);
  machine_baud_.at(port) = machine_baud;
}

long PortController::port_baud(int port) const {
  const PortParams& p = params_.at(port);
  if (p.set && p.baud() > 0) return p.baud();
  if (machine_baud_.at(port) > 0) return machine_baud_.at(port);
  return opts_.default_port_baud;
}

void PortController::set_probe_answer(std::string answer) {
  opts_.probe_answer = std::move(answer);
  pieces_.clear();
}
void PortController::set_silent(bool on) {
  silent_ = on;
}
void PortController::set_answer_pieces(std::vector<std::string> pieces, Duration gap) {
  pieces_ = std::move(pieces);
  piece_gap_ = gap;
}

void PortController::set_powered(bool on) {
  if (powered_ == on) return;
  powered_ = on;
  if (!on) {
    // Power lost: the buffers are gone and a half-parsed command with them.
    for (auto& q : inbound_) q.clear();
    for (auto& q : outbound_) q.clear();
    overrun_.fill(false);
    state_ = Parse::Normal;
    block_.clear();
  } else {
    // A fresh start: the set-up and the selection lived in memory.
    ++restarts_;
    params_.fill(PortParams{});
    selected_ = opts_.initial_port >= 1 && opts_.initial_port <= kPorts ? opts_.initial_port : 0;
  }
  update_cts();
  if (host_) host_->power_changed(on);
}

bool PortController::cts() const {
  return powered_ && !(selected_ >= 1 && overrun_[selected_]);
}

void PortController::on_host_lines(bool dtr, bool rts) {
  if (recording_ && dtr != host_dtr_)
    line_events_.emplace_back(loop_.now(), dtr ? "DTR on" : "DTR off");
  if (recording_ && rts != host_rts_)
    line_events_.emplace_back(loop_.now(), rts ? "RTS on" : "RTS off");
  const bool rts_raised = rts && !host_rts_;
  host_dtr_ = dtr;
  host_rts_ = rts;
  if (rts_raised && opts_.honour_host_rts && selected_ >= 1) flush_inbound(selected_);
}

void PortController::on_host_byte(std::uint8_t b) {
  if (recording_) transcript_.push_back({loop_.now(), false, b, selected_});
  if (!powered_) return;
  handle(b);
}

bool PortController::block_complete() const {
  const std::size_t n = block_.size();
  if ((n != 8 && n != 9) || block_[0] != '2') return false;
  const std::size_t o = n - 7;
  if (n == 9 && !std::isdigit(static_cast<unsigned char>(block_[1]))) return false;
  auto one_of = [](char c, const char* set) {
    return c != 0 && std::string_view(set).find(c) != std::string_view::npos;
  };
  return block_[o] == '3' && one_of(block_[o + 1], "34") && block_[o + 2] == '4' &&
         one_of(block_[o + 3], "13") && block_[o + 4] == '5' && one_of(block_[o + 5], "12") &&
         block_[o + 6] == '1';
}

void PortController::finish_block(bool complete) {
  if (!complete) {
    ++malformed_;
    return;
  }
  PortParams p;
  p.set = true;
  p.raw = block_;
  const std::size_t o = block_.size() - 7;
  p.baud_code = block_.size() == 9 ? block_[1] - '0' : 0;
  p.parity = block_[o + 1];
  p.stop = block_[o + 3];
  p.data = block_[o + 5];
  params_.at(block_port_) = p;
  ++setup_blocks_;
}

void PortController::handle(std::uint8_t b) {
  switch (state_) {
    case Parse::Normal:
      if (b == kDc4) {
        state_ = Parse::Esc;
      } else {
        data_to_machine(b);
      }
      return;
    case Parse::Esc:
      state_ = Parse::Normal;
      if (b == 'J') {
        // DC4 "J" ends the set-up, unless DC4 "K" follows (attention).
        ++setup_ends_;
        state_ = Parse::EscJ;
      } else if (b >= '1' && b <= '8') {
        pending_digit_ = b - '0';
        state_ = Parse::Digit;
      } else if (b == 'Q') {
        if (selected_ >= 1) select(selected_);
      } else if (b >= 'A' && b <= 'H') {
        block_port_ = b - 'A' + 1;
        block_.clear();
        state_ = Parse::Block;
      } else if (b == 'I') {
        // Accepted and ignored.
      } else if (b == kDc4) {
        data_to_machine(kDc4);  // DC4 DC4: one DC4 for the machine
      } else {
        data_to_machine(kDc4);
        handle(b);
      }
      return;
    case Parse::EscJ:
      if (b == kDc4) {
        state_ = Parse::EscJEsc;
      } else {
        state_ = Parse::Normal;
        handle(b);
      }
      return;
    case Parse::EscJEsc:
      if (b == 'K') {
        --setup_ends_;
        state_ = Parse::Normal;
        answer_probe();
      } else {
        state_ = Parse::Esc;
        handle(b);
      }
      return;
    case Parse::Digit:
      if (b == kDc4) {
        state_ = Parse::DigitEsc;
      } else {
        state_ = Parse::Normal;
        data_to_machine(kDc4);
        data_to_machine(static_cast<std::uint8_t>('0' + pending_digit_));
        handle(b);
      }
      return;
    case Parse::DigitEsc:
      if (b == 'Q') {
        state_ = Parse::Normal;
        select(pending_digit_);
      } else {
        data_to_machine(kDc4);
        data_to_machine(static_cast<std::uint8_t>('0' + pending_digit_));
        state_ = Parse::Esc;
        handle(b);
      }
      return;
    case Parse::Block:
      if (b == kDc4) {
        finish_block(false);
        state_ = Parse::Esc;
        return;
      }
      block_.push_back(static_cast<char>(b));
      if (block_complete()) {
        finish_block(true);
        state_ = Parse::Normal;
      } else if (block_.size() > 12) {
        finish_block(false);
        state_ = Parse::Normal;
      }
      return;
  }
}

void PortController::data_to_machine(std::uint8_t b) {
  if (recording_) routed_.at(selected_).push_back(static_cast<char>(b));
  if (selected_ < 1) return;  // no port selected yet: nowhere to go
  flow_.from_host(selected_, loop_.now());
  outbound_[selected_].push_back(b);
  update_cts();
  pump_out(selected_);
}

void PortController::pump_out(int port) {
  if (out_busy_[port] || outbound_[port].empty()) return;
  out_busy_[port] = true;
  // The front byte's time on the machine's line starts now: the line is idle, or has just
  // finished the byte before it.
  out_due_[port] = loop_.now() + byte_time(port_baud(port));
  loop_.post_at(out_due_[port], [this, port, w = life_.watch()] {
    if (!w.expired()) deliver_due(port);
  });
}

void PortController::deliver_due(int port) {
  // Every byte whose time has come, each a byte time after the one before, so a late
  // wake-up neither slows the line nor speeds it up.
  const TimePoint now = loop_.now();
  while (!outbound_[port].empty() && out_due_[port] <= now) {
    std::uint8_t b = outbound_[port].front();
    outbound_[port].pop_front();
    update_cts();
    if (sinks_[port]) sinks_[port](b);
    if (!outbound_[port].empty()) out_due_[port] += byte_time(port_baud(port));
  }
  if (outbound_[port].empty()) {  // all delivered, or discarded meanwhile
    out_busy_[port] = false;
    return;
  }
  loop_.post_at(std::max(out_due_[port], now + opts_.delivery_step),
                [this, port, w = life_.watch()] {
                  if (!w.expired()) deliver_due(port);
                });
}

void PortController::select(int port) {
  selected_ = port;
  ++selects_;
  flush_inbound(port);
  update_cts();
}

void PortController::flush_inbound(int port) {
  if (opts_.honour_host_rts && !host_rts_) return;
  auto& q = inbound_.at(port);
  while (!q.empty()) {
    std::uint8_t b = q.front();
    q.pop_front();
    to_host_byte(port, b);
  }
}

void PortController::on_machine_byte(int port, std::uint8_t b) {
  if (!powered_ || port < 1 || port > kPorts) return;
  auto& q = inbound_[port];
  const bool pass = port == selected_ && q.empty() && (!opts_.honour_host_rts || host_rts_);
  if (pass) {
    to_host_byte(port, b);
  } else if (q.size() < kInboundLimit) {
    q.push_back(b);
  }
}

void PortController::to_host_byte(int port, std::uint8_t b) {
  if (recording_) transcript_.push_back({loop_.now(), true, b, port});
  flow_.to_host(port, b, loop_.now());
  if (host_) host_->send_to_host(b);
}

void PortController::answer_probe() {
  ++probes_answered_;
  if (silent_) return;
  std::vector<std::string> pieces =
      pieces_.empty() ? std::vector<std::string>{opts_.probe_answer} : pieces_;
  Duration at = opts_.answer_delay;
  for (auto& piece : pieces) {
    loop_.post_after(at, [this, piece, w = life_.watch()] {
      if (w.expired() || !powered_) return;
      for (unsigned char c : piece) to_host_byte(0, c);
    });
    at += piece_gap_;
  }
}

void PortController::update_cts() {
  for (int p = 1; p <= kPorts; ++p) {
    const auto n = static_cast<int>(outbound_[p].size());
    if (n > opts_.high_water)
      overrun_[p] = true;
    else if (n <= opts_.low_water)
      overrun_[p] = false;
  }
  const bool now = cts();
  if (now != last_cts_) {
    last_cts_ = now;
    if (host_) host_->cts_changed(now);
  }
}

std::string PortController::from_host() const {
  std::string s;
  for (const auto& e : transcript_)
    if (!e.to_host) s.push_back(static_cast<char>(e.byte));
  return s;
}

std::string PortController::to_host() const {
  std::string s;
  for (const auto& e : transcript_)
    if (e.to_host) s.push_back(static_cast<char>(e.byte));
  return s;
}

}  // namespace shoplink::sim
