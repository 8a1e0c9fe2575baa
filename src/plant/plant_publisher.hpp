#pragma once
// The plant publisher: what the station does, published to the plant's MQTT broker under
// the station's topic (plant/plant_messages.hpp has the topics and payloads).
//
// - status: retained, "online" when connected; the broker's last will says "offline" when
//   the station goes without a goodbye, and a clean stop says "offline" itself;
// - port/<n>/state: retained, each port's picture from the station's snapshot, at most
//   once a second per port (the newest picture when the second is up);
// - port/<n>/event, port/<n>/transfer, line: from the station's reports, QoS 1 through the
//   outbox (plant/outbox.hpp): written there first, removed on the broker's acknowledgement,
//   sent in order, each with its sequence number, again after every reconnection.
//
// Everything runs on the station's thread and returns at once: the broker's state changes
// nothing in the station's timing. A broker that is away is tried again after 1 s, then
// twice as long after each failure up to kLongestRetry.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/clock.hpp"
#include "core/station_events.hpp"
#include "core/station_snapshot.hpp"
#include "core/station_state.hpp"
#include "plant/broker_link.hpp"
#include "plant/outbox.hpp"
#include "plant/plant_messages.hpp"
#include "plant/plant_settings.hpp"

namespace shoplink {

class Journal;
class Station;

class PlantPublisher final : public StationEvents {
 public:
  static constexpr Duration kFirstRetry = std::chrono::seconds(1);
  static constexpr Duration kLongestRetry = std::chrono::seconds(60);
  // A connection that stayed up this long was a good one: the waits start again from 1 s.
  static constexpr Duration kGoodConnection = std::chrono::seconds(10);
  static constexpr Duration kStateEvery = std::chrono::seconds(1);
  // Outbox messages sent and not yet acknowledged, at most.
  static constexpr std::size_t kInFlight = 16;

  // Listens to `s` from now on (add it after the journal, so the journal is open when the
  // station starts); `journal` holds the outbox (nullptr: in memory), `snapshot` gives the
  // ports' states.
  PlantPublisher(Station& s, PlantSettings settings, std::unique_ptr<BrokerLink> link,
                 Journal* journal, SnapshotPublisher* snapshot,
                 std::int64_t outbox_limit = kOutboxLimit);
  ~PlantPublisher() override;
  PlantPublisher(const PlantPublisher&) = delete;
  PlantPublisher& operator=(const PlantPublisher&) = delete;

  const PlantSettings& settings() const { return settings_; }
  Outbox& outbox() { return outbox_; }
  bool connected() const { return link_->is_connected(); }

  void station_started(const LocalTime& at) override;
  void station_stopping(const LocalTime& at) override;
  void transfer_ended(const TransferEnd& t) override;
  void activity_recorded(const ActivityRecord& a) override;
  void line_state_changed(LineState state, const std::string& detail, const LocalTime& at) override;

 private:
  void open_outbox();
  void enqueue(const std::string& topic, const std::string& body, bool retain, bool bounded = true);
  void pump();
  void on_connected();
  void on_lost(const std::string& why);
  void on_acknowledged(int mid);
  void retry();
  void schedule_retry();
  void snapshot_published(const StationSnapshot& snap);
  void send_state(int port);
  void outbox_failed(const std::string& what);
  std::string now_text() const;
  void post(Duration d, std::function<void(PlantPublisher&)> f);

  Station& s_;
  PlantSettings settings_;
  std::unique_ptr<BrokerLink> link_;
  Journal* journal_;
  SnapshotPublisher* snapshot_;
  Outbox outbox_;
  bool outbox_open_ = false;
  StatusInfo status_;
  bool started_ = false, stopping_ = false;

  std::map<int, std::int64_t> in_flight_;  // message id → sequence number
  std::int64_t last_sent_ = 0;             // of this connection
  Duration retry_delay_ = kFirstRetry;
  bool retry_posted_ = false;
  std::optional<TimePoint> connected_at_;
  bool ever_connected_ = false;
  bool outage_logged_ = false;
  bool drop_logged_ = false;
  bool outbox_failure_logged_ = false;

  struct PortState {
    std::string current, sent;
    std::optional<TimePoint> sent_at;
    bool posted = false;
  };
  std::array<PortState, NumPorts> states_{};
  std::shared_ptr<PlantPublisher*> alive_;
};

}  // namespace shoplink
