#include "machine.hpp"

#include <algorithm>

#include "machine_codes.hpp"

namespace shoplink::sim {

namespace {
bool is_iso(MachineCode c) {
  return c == MachineCode::IsoEven || c == MachineCode::IsoOdd || c == MachineCode::IsoNone;
}
bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
bool leader_char(char c) {
  return c == 0 || c == '\r' || c == '\n' || c == ' ' || c == 0x7F;
}
bool trailer_control(char c) {
  return c == 0 || c == 3 || c == 4 || c == 20 || c == 26 || c == 27;
}
}  // namespace

std::vector<std::string> Program::lines() const {
  std::vector<std::string> out;
  std::string cur;
  auto flush = [&] {
    if (!cur.empty()) out.push_back(cur);
    cur.clear();
  };
  for (char c : text) {
    if (c == '\n') {
      flush();
    } else if (c != '\r') {
      cur.push_back(c);
    }
  }
  flush();
  return out;
}

Machine::Machine(EventLoop& loop, PortController& controller, int port, MachineConfig config)
    : loop_(loop), controller_(controller), port_(port), config_(std::move(config)) {
  controller_.attach_machine(
      port_,
      [this, w = life_.watch()](std::uint8_t b) {
        if (!w.expired()) on_byte(b);
      },
      config_.baud);
}

void Machine::configure(MachineConfig config) {
  config_ = std::move(config);
  controller_.attach_machine(
      port_,
      [this, w = life_.watch()](std::uint8_t b) {
        if (!w.expired()) on_byte(b);
      },
      config_.baud);
}

std::string Machine::control(char c) const {
  if (is_iso(config_.code)) return encode_text(config_.code, std::string(1, c));
  return std::string(1, c);  // EIA and numeric controls send handshakes as plain bytes
}

void Machine::queue_bytes(const std::string& bytes) {
  for (unsigned char b : bytes) tx_.push_back(Item{false, false, false, false, b, {}});
  pump();
}

void Machine::send_now(const std::string& bytes) {
  for (auto it = bytes.rbegin(); it != bytes.rend(); ++it)
    tx_.push_front(Item{false, true, false, false, static_cast<std::uint8_t>(*it), {}});
  pump();
}

void Machine::send_command(const std::string& text) {
  queue_bytes(encode_text(config_.code, text) + end_of_block(config_.code, config_.line_end));
  commands_in_flight_.push_back(text);
  tx_.push_back(Item{false, false, false, true, 0, {}});
  pump();
}
void Machine::send_raw(const std::string& bytes) {
  queue_bytes(bytes);
}
void Machine::send_text(const std::string& text) {
  queue_bytes(encode_text(config_.code, text));
}
void Machine::send_xon() {
  ++xons_sent_;
  send_now(control(17));
}
void Machine::send_xoff() {
  ++xoffs_sent_;
  send_now(control(19));
}
void Machine::send_dc2() {
  send_now(control(18));
}
void Machine::send_ack() {
  send_now(control(6));
}

void Machine::pump() {
  if (tx_busy_ || tx_.empty()) return;
  Item it = tx_.front();
  if (held_ && config_.honour_xoff && !it.priority) return;
  tx_.pop_front();
  if (it.upload_end) {
    ++uploads_done_;
    pump();
    return;
  }
  if (it.command_end) {
    std::string text;
    if (!commands_in_flight_.empty()) {
      text = std::move(commands_in_flight_.front());
      commands_in_flight_.pop_front();
    }
    if (command_watcher_) command_watcher_(text);
    if (config_.xon_after_command > Duration::zero()) {
      loop_.post_after(config_.xon_after_command, [this, w = life_.watch()] {
        if (!w.expired()) send_xon();
      });
    }
    pump();
    return;
  }
  tx_busy_ = true;
  const Duration wait = it.pause ? it.wait : byte_time(config_.baud);
  loop_.post_after(wait, [this, it, w = life_.watch()] {
    if (w.expired()) return;
    tx_busy_ = false;
    if (!it.pause) {
      ++bytes_sent_;
      controller_.on_machine_byte(port_, it.byte);
    }
    pump();
  });
}

void Machine::upload(const std::string& program_text, UploadOptions opts) {
  const std::string eob =
      end_of_block(config_.code, opts.line_end.empty() ? config_.line_end : opts.line_end);
  const std::string blank =
      is_iso(config_.code) ? encode_text(config_.code, std::string(1, '\0')) : std::string(1, '\0');
  std::vector<std::string> lines;
  std::string cur;
  for (char c : program_text) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) lines.push_back(cur);

  std::vector<Item> items;
  auto add = [&](const std::string& bytes) {
    for (unsigned char b : bytes) items.push_back(Item{false, false, false, false, b, {}});
  };
  for (int i = 0; i < opts.leader_nuls; ++i) add(blank);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (opts.burst_lines > 0 && i > 0 && i % static_cast<std::size_t>(opts.burst_lines) == 0)
      items.push_back(Item{true, false, false, false, 0, opts.burst_pause});
    add(encode_text(config_.code, lines[i]) + eob);
  }
  for (int i = 0; i < opts.trailer_nuls; ++i) add(blank);
  items.push_back(Item{false, false, true, false, 0, {}});

  pending_upload_.insert(pending_upload_.end(), items.begin(), items.end());
  if (!opts.dc2_first) {
    start_upload();
    return;
  }
  awaiting_dc1_ = true;
  const int announcement = ++dc2_announcements_;
  send_dc2();
  loop_.post_after(opts.dc2_timeout, [this, announcement, w = life_.watch()] {
    if (w.expired() || !awaiting_dc1_ || announcement != dc2_announcements_) return;
    ++dc2_unanswered_;
    start_upload();
  });
}

void Machine::start_upload() {
  awaiting_dc1_ = false;
  for (auto& it : pending_upload_) tx_.push_back(it);
  pending_upload_.clear();
  pump();
}

void Machine::burny_enquiry(const std::string& command, std::function<void()> then) {
  burny_waiting_ = true;
  burny_command_ = command;
  burny_then_ = std::move(then);
  queue_bytes(control(27) + control(5));
}

void Machine::lynx_request(const std::string& file_name) {
  Reaction r;
  r.pattern = std::string("ENTER FILE NAME:") + '\x03';
  r.once = true;
  r.action = [this, file_name] {
    lynx_active_ = true;
    send_command(file_name);
  };
  reactions_.push_back(std::move(r));
  send_text("!S");
}

void Machine::on_receive(std::string pattern, std::string reply, bool once) {
  Reaction r;
  r.pattern = std::move(pattern);
  r.reply = std::move(reply);
  r.once = once;
  reactions_.push_back(std::move(r));
}

void Machine::react_later(std::string reply, std::function<void()> action) {
  loop_.post_after(config_.reaction_delay,
                   [this, reply = std::move(reply), action = std::move(action), w = life_.watch()] {
                     if (w.expired()) return;
                     if (!reply.empty()) send_now(reply);
                     if (action) action();
                   });
}

void Machine::on_byte(std::uint8_t b) {
  received_.push_back(static_cast<char>(b));
  const int a = b & 0x7F;
  const bool flow = (a == 17 || a == 19) && (is_iso(config_.code) || sending() || awaiting_dc1_ ||
                                             !pending_upload_.empty());
  if (flow) {
    if (a == 19) {
      ++dc3_received_;
      held_ = true;
    } else {
      ++dc1_received_;
      held_ = false;
      if (awaiting_dc1_) start_upload();
      pump();
    }
  }
  const bool ack = a == 6;
  if (ack) {
    ++acks_received_;
    if (burny_waiting_) {
      burny_waiting_ = false;
      if (!burny_command_.empty()) {
        react_later({}, [this, cmd = burny_command_, then = std::move(burny_then_)] {
          send_command(cmd);
          if (then) then();
        });
      }
    }
  }
  const bool handshake_only = flow || ack;
  last_rx_ = loop_.now();
  if (!segment_open_ && !handshake_only) {
    segment_open_ = true;
    segment_begin_ = received_.size() - 1;
    segment_times_.push_back(last_rx_);
  }
  if (segment_open_ && !gap_check_pending_) {
    gap_check_pending_ = true;
    loop_.post_after(config_.program_gap, [this, w = life_.watch()] {
      if (!w.expired()) check_gap();
    });
  }

  const char ch = decode_byte(config_.code, b);
  decoded_.push_back(ch);
  for (auto& r : reactions_) {
    if (r.done || !ends_with(decoded_, r.pattern)) continue;
    if (r.once) r.done = true;
    react_later(r.reply, r.action);
  }
  if (ch == '\n' && config_.ab_ack) {
    const auto start = decoded_.rfind('\n', decoded_.size() - 2);
    const std::string line = decoded_.substr(start == std::string::npos ? 0 : start + 1);
    if (line.find("%COP") != std::string::npos) react_later(control(6));
  }
  if ((lynx_active_ || config_.lynx_prompts) && !handshake_only && (ch == '*' || ch == '\n'))
    react_later(encode_text(config_.code, ">"));

  if (handshake_only) return;
  if (line_watcher_) {
    if (ch == '\n') {
      line_watcher_(line_so_far_);
      line_so_far_.clear();
    } else if (ch != '\r' && line_so_far_.size() < 4096) {
      line_so_far_.push_back(ch);
    }
  }
  ++input_level_;
  if (config_.xoff_at > 0 && input_level_ > config_.xoff_at && !xoff_sent_) {
    xoff_sent_ = true;
    send_xoff();
  }
  if (config_.consume_cps <= 0) {
    input_level_ = 0;
    if (xoff_sent_ && !consuming_) {
      xoff_sent_ = false;
      send_xon();
    }
  } else if (!consuming_) {
    consuming_ = true;
    consume_due_ = loop_.now() + Duration(1'000'000'000LL / config_.consume_cps);
    loop_.post_at(consume_due_, [this, w = life_.watch()] {
      if (!w.expired()) consume_tick();
    });
  }
}

void Machine::consume_tick() {
  // One byte a tick, and on a late wake-up every byte whose time has passed.
  const TimePoint now = loop_.now();
  const Duration per(1'000'000'000LL / std::max(1, config_.consume_cps));
  do {
    if (input_level_ > 0) --input_level_;
    if (xoff_sent_ && input_level_ <= config_.xon_at) {
      xoff_sent_ = false;
      send_xon();
    }
    consume_due_ += per;
  } while (input_level_ > 0 && consume_due_ <= now);
  if (input_level_ > 0) {
    loop_.post_at(std::max(consume_due_, now + config_.delivery_step), [this, w = life_.watch()] {
      if (!w.expired()) consume_tick();
    });
  } else {
    consuming_ = false;
  }
}

void Machine::check_gap() {
  gap_check_pending_ = false;
  if (!segment_open_) return;
  const TimePoint due = last_rx_ + config_.program_gap;
  // A control that has said Xoff is still in the middle of the program.
  if (loop_.now() >= due && !xoff_sent_) {
    close_segment();
    return;
  }
  gap_check_pending_ = true;
  const Duration wait = loop_.now() >= due ? config_.program_gap : due - loop_.now();
  loop_.post_after(wait, [this, w = life_.watch()] {
    if (!w.expired()) check_gap();
  });
}

void Machine::close_segment() {
  segments_.emplace_back(segment_begin_, received_.size());
  segment_times_.push_back(last_rx_);
  segment_open_ = false;
}

bool Machine::forget_received() {
  if (segment_open_) return false;
  received_.clear();
  decoded_.clear();
  segments_.clear();
  segment_times_.clear();
  segment_begin_ = 0;
  return true;
}

std::string Machine::received_text() const {
  return decode_bytes(config_.code, received_).text;
}

int Machine::parity_errors() const {
  if (config_.binary) return 0;
  return decode_bytes(config_.code, received_).parity_errors;
}

std::vector<Program> Machine::programs() const {
  std::vector<Program> out;
  auto build = [&](std::size_t begin, std::size_t end, bool complete, TimePoint t0, TimePoint t1) {
    Program p;
    p.raw = received_.substr(begin, end - begin);
    p.complete = complete;
    p.started = t0;
    p.ended = t1;
    // Handshake bytes the station sent into the program are not program text.
    std::string bytes;
    for (unsigned char b : p.raw) {
      const int a = b & 0x7F;
      if (is_iso(config_.code) && (a == 17 || a == 19 || a == 6)) continue;
      bytes.push_back(static_cast<char>(b));
    }
    Decoded d = decode_bytes(config_.code, bytes);
    p.parity_errors = config_.binary ? 0 : d.parity_errors;
    const std::string& t = d.text;
    std::size_t i = 0;
    while (i < t.size() && leader_char(t[i])) ++i;
    std::size_t end_body = t.size();
    for (std::size_t j = i; j < t.size(); ++j) {
      if (trailer_control(t[j])) {
        end_body = j;
        break;
      }
      if (j == i || t[j - 1] == '\n') {
        // Blank feed followed by the end mark: the station's closing "%".
        std::size_t k = j;
        while (k < t.size() && (t[k] == ' ' || t[k] == 0)) ++k;
        if (k - j >= 2 && k < t.size() && t[k] == '%') {
          end_body = j;
          break;
        }
      }
    }
    p.leader = t.substr(0, i);
    p.text = t.substr(i, end_body - i);
    p.trailer = t.substr(end_body);
    out.push_back(std::move(p));
  };
  for (std::size_t s = 0; s < segments_.size(); ++s)
    build(segments_[s].first, segments_[s].second, true, segment_times_[2 * s],
          segment_times_[2 * s + 1]);
  if (segment_open_)
    build(segment_begin_, received_.size(), false, segment_times_.back(), last_rx_);
  return out;
}

}  // namespace shoplink::sim
