#include "plant/plant_publisher.hpp"

#include <arpa/inet.h>

#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "journal/journal.hpp"
#include "journal/journal_file.hpp"
#include "journal/sqlite_db.hpp"
#include "log/system_log.hpp"
#include "plant/json_text.hpp"

#ifndef SHOPLINK_VERSION
#define SHOPLINK_VERSION "unknown"
#endif

namespace shoplink {

namespace {

std::string messages(std::int64_t n) {
  return std::to_string(n) + (n == 1 ? " message" : " messages");
}

// An address needs no look-up; a name may wait on the resolver.
bool numeric_host(const std::string& host) {
  unsigned char buf[16];
  return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

PlantPublisher::PlantPublisher(Station& s, PlantSettings settings, std::unique_ptr<BrokerLink> link,
                               Journal* journal, SnapshotPublisher* snapshot,
                               std::int64_t outbox_limit)
    : s_(s),
      settings_(std::move(settings)),
      link_(std::move(link)),
      journal_(journal),
      snapshot_(snapshot),
      outbox_(outbox_limit),
      alive_(std::make_shared<PlantPublisher*>(this)) {
  status_.station = settings_.station;
  status_.version = SHOPLINK_VERSION;
  status_.started = s_.loop.clock().local_now();
  link_->set_handlers({[this] { on_connected(); }, [this](const std::string& why) { on_lost(why); },
                       [this](int mid) { on_acknowledged(mid); }});
  if (snapshot_) {
    std::weak_ptr<PlantPublisher*> alive = alive_;
    snapshot_->on_publish([alive](const std::shared_ptr<const StationSnapshot>& snap) {
      const auto self = alive.lock();
      if (self && *self && snap) (*self)->snapshot_published(*snap);
    });
  }
  s_.events.add(this);
}

PlantPublisher::~PlantPublisher() {
  *alive_ = nullptr;
  s_.events.remove(this);
}

void PlantPublisher::post(Duration d, std::function<void(PlantPublisher&)> f) {
  std::weak_ptr<PlantPublisher*> alive = alive_;
  s_.loop.post_after(d, [alive, f = std::move(f)] {
    const auto self = alive.lock();
    if (self && *self) f(**self);
  });
}

std::string PlantPublisher::now_text() const {
  return journal_time(s_.loop.clock().local_now());
}

void PlantPublisher::open_outbox() {
  if (outbox_open_) return;
  outbox_open_ = true;
  Db* db = journal_ ? journal_->database() : nullptr;
  try {
    outbox_.attach(db);
  } catch (const std::exception& e) {
    db = nullptr;
    outbox_.attach(nullptr);
    outbox_failed(e.what());
  }
  if (!db && !outbox_failure_logged_) {
    outbox_failure_logged_ = true;
    log_text(s_,
             "Plant: no journal for the outbox; messages wait in memory until the station stops");
  }
  if (outbox_.size() > 0)
    log_text(s_, "Plant: " + messages(outbox_.size()) + " from the last run wait in the outbox");
}

void PlantPublisher::outbox_failed(const std::string& what) {
  outbox_.fall_back_to_memory();
  if (outbox_failure_logged_) return;
  outbox_failure_logged_ = true;
  log_text(s_, "Plant: cannot write the outbox (" + what +
                   "); messages wait in memory until the station stops");
}

void PlantPublisher::station_started(const LocalTime& at) {
  status_.started = at;
  open_outbox();
  started_ = true;
  link_->connect();
}

void PlantPublisher::station_stopping(const LocalTime& at) {
  stopping_ = true;
  if (link_->is_connected()) {
    link_->publish(status_topic(settings_.topic), stopped_payload(status_, at), 1, true);
    link_->disconnect();
  }
}

void PlantPublisher::transfer_ended(const TransferEnd& t) {
  enqueue(port_topic(settings_.topic, t.start.port, "transfer"), transfer_body(t), false);
}

void PlantPublisher::activity_recorded(const ActivityRecord& a) {
  enqueue(port_topic(settings_.topic, a.port, "event"), event_body(a), false);
}

void PlantPublisher::line_state_changed(LineState state, const std::string& detail,
                                        const LocalTime& at) {
  // Retained: the last of them is the line's state now.
  enqueue(line_topic(settings_.topic), line_body(state, detail, at), true);
}

void PlantPublisher::enqueue(const std::string& topic, const std::string& body, bool retain,
                             bool bounded) {
  open_outbox();
  int dropped = 0;
  const std::string now = now_text();
  try {
    outbox_.add(topic, body, retain, now, &dropped, bounded);
  } catch (const std::exception& e) {
    outbox_failed(e.what());
    outbox_.add(topic, body, retain, now, &dropped, bounded);
  }
  if (dropped > 0 && !drop_logged_) {
    drop_logged_ = true;
    log_text(s_, "Plant: the outbox holds " + messages(outbox_.limit()) +
                     "; the oldest are dropped until the broker is back");
  }
  pump();
}

void PlantPublisher::pump() {
  if (!link_->is_connected() || in_flight_.size() >= kInFlight) return;
  std::vector<OutboxMessage> next;
  try {
    next = outbox_.after(last_sent_, kInFlight - in_flight_.size());
  } catch (const std::exception& e) {
    outbox_failed(e.what());
    return;
  }
  for (const OutboxMessage& m : next) {
    const int mid = link_->publish(m.topic, with_sequence(m.body, m.seq), 1, m.retain);
    if (!link_->is_connected()) return;
    last_sent_ = m.seq;
    if (mid < 0) {
      // One the broker can never take: it would hold up all behind it.
      log_text(s_, "Plant: message " + std::to_string(m.seq) + " to " + m.topic +
                       " cannot be published; removed from the outbox");
      try {
        outbox_.remove(m.seq);
      } catch (const std::exception& e) {
        outbox_failed(e.what());
      }
      continue;
    }
    in_flight_[mid] = m.seq;
  }
}

void PlantPublisher::on_acknowledged(int mid) {
  const auto it = in_flight_.find(mid);
  if (it == in_flight_.end()) return;  // a port's state, not the outbox's
  const std::int64_t seq = it->second;
  in_flight_.erase(it);
  try {
    outbox_.remove(seq);
  } catch (const std::exception& e) {
    // It stays and goes again after a reconnection: a duplicate its number tells.
    outbox_failed(e.what());
  }
  pump();
}

void PlantPublisher::on_connected() {
  connected_at_ = s_.loop.now();
  in_flight_.clear();
  last_sent_ = 0;
  const std::string where = settings_.url + " as " + settings_.topic;
  if (!ever_connected_)
    log_text(s_, "Plant: publishing to " + where);
  else
    log_text(s_, "Plant: connected to " + settings_.url + " again, " + messages(outbox_.size()) +
                     " in the outbox to send");
  ever_connected_ = true;
  outage_logged_ = false;
  link_->publish(status_topic(settings_.topic), online_payload(status_), 1, true);
  // Every port's state again: the broker may have lost its retained ones.
  for (auto& st : states_) {
    st.sent.clear();
    st.sent_at.reset();
  }
  const auto snap = snapshot_ ? snapshot_->latest() : nullptr;
  if (snap) {
    snapshot_published(*snap);
  } else {
    for (int port = 1; port <= NumPorts; ++port) send_state(port);
  }
  if (const auto drop = outbox_.drop()) {
    log_text(s_, "Plant: " + messages(drop->count) + " (numbers " +
                     std::to_string(drop->first_seq) + " to " + std::to_string(drop->last_seq) +
                     ") were dropped from the full outbox since " + drop->since);
    try {
      enqueue(outbox_topic(settings_.topic),
              dropped_body(drop->count, drop->first_seq, drop->last_seq, drop->since,
                           s_.loop.clock().local_now()),
              false, false);
      outbox_.drop_told();
    } catch (const std::exception& e) {
      outbox_failed(e.what());
    }
    drop_logged_ = false;
  }
  pump();
}

void PlantPublisher::on_lost(const std::string& why) {
  in_flight_.clear();
  last_sent_ = 0;
  const bool was_good = connected_at_ && s_.loop.now() - *connected_at_ >= kGoodConnection;
  if (connected_at_) {
    if (was_good) retry_delay_ = kFirstRetry;
    log_text(s_, "Plant: connection to " + settings_.url + " lost (" + why +
                     "); messages wait in the outbox");
    outage_logged_ = true;
  } else if (!outage_logged_) {
    outage_logged_ = true;
    log_text(s_, "Plant: broker " + settings_.url + " not reachable (" + why +
                     "); messages wait in the outbox, tried again");
  }
  connected_at_.reset();
  if (!stopping_) schedule_retry();
}

void PlantPublisher::schedule_retry() {
  if (retry_posted_) return;
  retry_posted_ = true;
  const Duration delay = retry_delay_;
  retry_delay_ = std::min(retry_delay_ * 2, kLongestRetry);
  post(delay, [](PlantPublisher& p) {
    p.retry_posted_ = false;
    p.retry();
  });
}

void PlantPublisher::retry() {
  if (stopping_ || link_->is_connected()) return;
  // Resolving a broker's name may wait on the name server: not while a program goes out.
  if (!numeric_host(settings_.broker.host) && transfer_under_way(s_)) {
    post(std::chrono::seconds(1), [](PlantPublisher& p) { p.retry(); });
    return;
  }
  link_->connect();
}

void PlantPublisher::snapshot_published(const StationSnapshot& snap) {
  for (const PortSnapshot& p : snap.ports) {
    if (p.number < 1 || p.number > NumPorts) continue;
    auto& st = states_[static_cast<std::size_t>(p.number - 1)];
    st.current = port_state_payload(p);
    if (st.current != st.sent) send_state(p.number);
  }
}

void PlantPublisher::send_state(int port) {
  auto& st = states_[static_cast<std::size_t>(port - 1)];
  if (st.current.empty() || st.current == st.sent || !link_->is_connected()) return;
  const TimePoint now = s_.loop.now();
  if (st.sent_at && now - *st.sent_at < kStateEvery) {
    // The newest picture goes when the second is up.
    if (!st.posted) {
      st.posted = true;
      post(*st.sent_at + kStateEvery - now, [port](PlantPublisher& p) {
        p.states_[static_cast<std::size_t>(port - 1)].posted = false;
        p.send_state(port);
      });
    }
    return;
  }
  if (link_->publish(port_topic(settings_.topic, port, "state"), st.current, 1, true) < 0) return;
  st.sent = st.current;
  st.sent_at = now;
}

}  // namespace shoplink
