#pragma once
// What the station looks like from outside at one moment: the eight ports (machine, what
// each is doing, the program and its progress, the last transfer and its result), the host
// line and the status line. The window's port tiles, the status page and the plant
// publisher all show the same picture.
//
// SnapshotPublisher builds it on the station's thread from the station's state and its
// reports, and publishes it after each change, at most every kPublishEvery. A published
// snapshot never changes: readers on other threads (the status page) take the latest with
// latest(), which only copies a pointer under a lock.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.hpp"
#include "core/station_events.hpp"
#include "core/station_state.hpp"

namespace shoplink {

class Station;

enum class PortActivity {
  Idle,
  Command,     // a command is coming in
  WaitingXon,  // a program is ready; the machine's Xon starts it
  Sending,
  Receiving,  // an upload is awaited or coming in
  Held,       // the machine holds the transfer (Xoff, CTS off)
  Failed,     // idle, and the last transfer did not end well
};
const char* name_of(PortActivity a);

struct LastTransfer {
  TransferKind kind = TransferKind::Request;
  TransferResult result = TransferResult::Transmitted;
  std::string program;  // host path
  double characters = 0;
  std::string reason;
  LocalTime ended;
};

struct PortSnapshot {
  int number = 0;
  std::string machine;
  PortActivity activity = PortActivity::Idle;
  std::string program;  // of the transfer under way (host path), empty when none
  double done = 0;      // characters so far
  double total = 0;     // the program's size when known (a send), else 0
  std::optional<LastTransfer> last;
};

struct StationSnapshot {
  std::uint64_t sequence = 0;  // grows with every published snapshot
  LocalTime taken;
  LocalTime started;
  std::string customer;
  std::string host_line;   // "COM1"
  std::string device;      // what COM1 is on this host ("/dev/ttyUSB0", "tcp://...")
  std::string line_state;  // "open", "lost: ...", "dead", "closed"
  std::string status;      // the status line
  std::string log_file;    // the system log's file on this host; empty when none is set
  int port = 0;            // the port being scanned or served
  std::array<PortSnapshot, NumPorts> ports{};
};

class SnapshotPublisher final : public StationEvents {
 public:
  static constexpr Duration kPublishEvery = std::chrono::milliseconds(100);

  // `every`: the shortest time between two snapshots (the window's tiles take 40 ms).
  explicit SnapshotPublisher(Station& s, Duration every = kPublishEvery);
  ~SnapshotPublisher() override;
  SnapshotPublisher(const SnapshotPublisher&) = delete;
  SnapshotPublisher& operator=(const SnapshotPublisher&) = delete;

  // The newest published snapshot; any thread.
  std::shared_ptr<const StationSnapshot> latest() const;
  // Called on the station's thread with each snapshot as it is published.
  void on_publish(std::function<void(const std::shared_ptr<const StationSnapshot>&)> f) {
    subscribers_.push_back(std::move(f));
  }

  void station_started(const LocalTime& at) override;
  void transfer_began(const TransferStart& t) override;
  void transfer_progressed(int port, double characters) override;
  void transfer_ended(const TransferEnd& t) override;
  void line_state_changed(LineState state, const std::string& detail, const LocalTime& at) override;

 private:
  struct Current {
    std::string program;
    double done = 0, total = 0;
  };
  StationSnapshot build() const;
  // What the state looks like now, cheaply, to notice changes no report announces.
  std::string signature() const;
  void changed();
  void look();
  void publish();

  Station& s_;
  Duration every_;
  LocalTime started_{};
  std::array<std::optional<Current>, NumPorts> current_{};
  std::array<std::optional<LastTransfer>, NumPorts> last_{};
  std::vector<std::function<void(const std::shared_ptr<const StationSnapshot>&)>> subscribers_;
  mutable std::mutex mutex_;
  std::shared_ptr<const StationSnapshot> latest_;
  std::uint64_t sequence_ = 0;
  std::string last_signature_;
  std::string log_path_;  // DNCDATA's log path, and the file it names on this host
  std::string log_file_;
  TimePoint last_publish_{};
  bool publish_due_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace shoplink
