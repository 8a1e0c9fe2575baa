#pragma once
// The station's snapshots (core/station_snapshot.hpp) as the status page's threads see them:
// the newest, and a wait for the next one for the live streams. The station's thread only
// swaps a pointer and wakes the waiting streams; it never waits for them.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "core/station_snapshot.hpp"

namespace shoplink {

class LiveFeed {
 public:
  // On the station's thread, with each snapshot published.
  void publish(std::shared_ptr<const StationSnapshot> snapshot);
  std::shared_ptr<const StationSnapshot> latest() const;
  // The newest snapshot once it is newer than `seen`, or after `timeout` (whatever is newest
  // then), or at once when the feed has stopped.
  std::shared_ptr<const StationSnapshot> wait_newer(std::uint64_t seen,
                                                    std::chrono::milliseconds timeout);
  void stop();
  bool stopped() const;

  // A place for one more live stream: false when `limit` are open already.
  bool join_stream(int limit);
  void leave_stream();
  int streams() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable newer_;
  std::shared_ptr<const StationSnapshot> latest_;
  bool stopped_ = false;
  int streams_ = 0;
};

}  // namespace shoplink
