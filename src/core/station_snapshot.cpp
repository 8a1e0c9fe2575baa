#include "core/station_snapshot.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/text.hpp"
#include "core/station.hpp"

namespace shoplink {

const char* name_of(PortActivity a) {
  switch (a) {
    case PortActivity::Idle:
      return "idle";
    case PortActivity::Command:
      return "command";
    case PortActivity::WaitingXon:
      return "waiting for Xon";
    case PortActivity::Sending:
      return "sending";
    case PortActivity::Receiving:
      return "receiving";
    case PortActivity::Held:
      return "held";
    case PortActivity::Failed:
      return "last transfer failed";
  }
  return "";
}

namespace {

bool failed(TransferResult r) {
  return r != TransferResult::Transmitted && r != TransferResult::Received;
}

// What the port being served is doing, from the station's mode and flags.
PortActivity served_port_activity(const Station& s) {
  const bool held = s.xoff == 1 || (s.line.is_open() && !s.line.cts());
  switch (s.mode) {
    case Mode::Sending:
      if (s.sending != 1) return PortActivity::WaitingXon;
      return held ? PortActivity::Held : PortActivity::Sending;
    case Mode::Receiving:
      return PortActivity::Receiving;
    case Mode::Settling:
      if (s.mode_after_purge == Mode::Sending) return PortActivity::WaitingXon;
      if (s.mode_after_purge == Mode::Receiving) return PortActivity::Receiving;
      return PortActivity::Idle;
    case Mode::Terminal:
      if (s.sending == 1) return held ? PortActivity::Held : PortActivity::Sending;
      return s.receiving == 1 ? PortActivity::Receiving : PortActivity::Idle;
    default:
      return s.receiving == 1 ? PortActivity::Command : PortActivity::Idle;
  }
}

// How far a send on the port being served has read its program: progress between the
// transfer's own reports, which come every 2 s. -1 when no program file is open.
double sent_so_far(const Station& s) {
  std::FILE* f = s.files.get(s.Openfile);
  const long at = f != nullptr ? std::ftell(f) : -1;
  return at < 0 ? -1 : static_cast<double>(at);
}

bool sending(PortActivity a) {
  return a == PortActivity::Sending || a == PortActivity::Held;
}

std::string line_state_of(const Station& s) {
  if (!s.line.is_open()) return "closed";
  if (!s.host_line_lost.empty()) return "lost: " + s.host_line_lost;
  if (s.host_line_reported) return "dead";
  return "open";
}

}  // namespace

SnapshotPublisher::SnapshotPublisher(Station& s, Duration every) : s_(s), every_(every) {
  started_ = s_.loop.clock().local_now();
  publish();
  // Changes no report announces (a command coming in, an Xoff) are looked for as often as a
  // snapshot may go out.
  std::weak_ptr<bool> alive = alive_;
  s_.loop.post_after(every_, [this, alive] {
    if (!alive.expired()) look();
  });
}

SnapshotPublisher::~SnapshotPublisher() = default;

std::shared_ptr<const StationSnapshot> SnapshotPublisher::latest() const {
  std::lock_guard lock(mutex_);
  return latest_;
}

void SnapshotPublisher::station_started(const LocalTime& at) {
  started_ = at;
  changed();
}

void SnapshotPublisher::transfer_began(const TransferStart& t) {
  if (t.port < 1 || t.port > NumPorts) return;
  Current c;
  c.program = t.program;
  if (t.kind == TransferKind::Request || t.kind == TransferKind::ManualSend ||
      t.kind == TransferKind::Binary || t.kind == TransferKind::Listing) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(t.program, ec);
    if (!ec) c.total = static_cast<double>(size);
  }
  current_[static_cast<std::size_t>(t.port - 1)] = c;
  changed();
}

void SnapshotPublisher::transfer_progressed(int port, double characters) {
  if (port < 1 || port > NumPorts) return;
  auto& c = current_[static_cast<std::size_t>(port - 1)];
  if (!c) return;
  c->done = characters;
  changed();
}

void SnapshotPublisher::transfer_ended(const TransferEnd& t) {
  const int port = t.start.port;
  if (port < 1 || port > NumPorts) return;
  current_[static_cast<std::size_t>(port - 1)].reset();
  last_[static_cast<std::size_t>(port - 1)] =
      LastTransfer{t.start.kind, t.result, t.start.program, t.characters, t.reason, t.ended};
  changed();
}

void SnapshotPublisher::line_state_changed(LineState, const std::string&, const LocalTime&) {
  changed();
}

StationSnapshot SnapshotPublisher::build() const {
  StationSnapshot snap;
  snap.taken = s_.loop.clock().local_now();
  snap.started = started_;
  snap.customer = s_.Customer_name;
  snap.host_line = "COM" + s_.line.port_number();
  snap.device = s_.line.device_name();
  snap.line_state = line_state_of(s_);
  snap.status = s_.window.status();
  snap.log_file = log_file_;
  snap.port = s_.port;
  for (int n = 1; n <= NumPorts; ++n) {
    PortSnapshot& p = snap.ports[static_cast<std::size_t>(n - 1)];
    p.number = n;
    p.machine = s_.ports[static_cast<std::size_t>(n)].machine_name;
    p.last = last_[static_cast<std::size_t>(n - 1)];
    if (const auto& c = current_[static_cast<std::size_t>(n - 1)]) {
      p.program = c->program;
      p.done = c->done;
      p.total = c->total;
    }
    if (n == s_.port) {
      p.activity = served_port_activity(s_);
      // Uploads report no progress of their own: what is stored so far.
      if (p.activity == PortActivity::Receiving && s_.receiving == 1) p.done = s_.char_count;
      if (sending(p.activity) && !p.program.empty()) p.done = std::max(p.done, sent_so_far(s_));
    }
    if (p.activity == PortActivity::Idle && p.last && failed(p.last->result))
      p.activity = PortActivity::Failed;
  }
  return snap;
}

std::string SnapshotPublisher::signature() const {
  const bool served = s_.port >= 1 && s_.port <= NumPorts;
  const PortActivity a = served ? served_port_activity(s_) : PortActivity::Idle;
  // A transfer's progress counts as a change by the percent of a send and by the thousand
  // characters of an upload, not by every character.
  long progress = 0;
  if (served && sending(a)) {
    const auto& c = current_[static_cast<std::size_t>(s_.port - 1)];
    if (c && c->total > 0) progress = static_cast<long>(sent_so_far(s_) * 100 / c->total);
  } else if (a == PortActivity::Receiving && s_.receiving == 1) {
    progress = static_cast<long>(s_.char_count / 1000);
  }
  return str(s_.port) + "|" + name_of(a) + "|" + std::to_string(progress) + "|" +
         line_state_of(s_) + "|" + s_.window.status();
}

void SnapshotPublisher::changed() {
  if (publish_due_) return;
  const Duration since = s_.loop.now() - last_publish_;
  if (since >= every_) {
    publish();
    return;
  }
  publish_due_ = true;
  std::weak_ptr<bool> alive = alive_;
  s_.loop.post_after(every_ - since, [this, alive] {
    if (alive.expired()) return;
    publish_due_ = false;
    publish();
  });
}

void SnapshotPublisher::look() {
  if (signature() != last_signature_) changed();
  std::weak_ptr<bool> alive = alive_;
  s_.loop.post_after(every_, [this, alive] {
    if (!alive.expired()) look();
  });
}

void SnapshotPublisher::publish() {
  // Looked up on disk (case-insensitively, as the log writes it) only when DNCDATA changed it.
  if (s_.config.log_path != log_path_) {
    log_path_ = s_.config.log_path;
    log_file_ = log_path_.empty() ? std::string() : s_.paths.existing(log_path_).string();
  }
  auto snap = std::make_shared<StationSnapshot>(build());
  snap->sequence = ++sequence_;
  last_signature_ = signature();
  last_publish_ = s_.loop.now();
  std::shared_ptr<const StationSnapshot> published = std::move(snap);
  {
    std::lock_guard lock(mutex_);
    latest_ = published;
  }
  for (const auto& f : subscribers_) f(published);
}

}  // namespace shoplink
