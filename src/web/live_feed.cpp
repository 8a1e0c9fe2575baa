#include "web/live_feed.hpp"

namespace shoplink {

void LiveFeed::publish(std::shared_ptr<const StationSnapshot> snapshot) {
  {
    std::lock_guard lock(mutex_);
    latest_ = std::move(snapshot);
  }
  newer_.notify_all();
}

std::shared_ptr<const StationSnapshot> LiveFeed::latest() const {
  std::lock_guard lock(mutex_);
  return latest_;
}

std::shared_ptr<const StationSnapshot> LiveFeed::wait_newer(std::uint64_t seen,
                                                            std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  newer_.wait_for(lock, timeout, [&] { return stopped_ || (latest_ && latest_->sequence > seen); });
  return latest_;
}

void LiveFeed::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  newer_.notify_all();
}

bool LiveFeed::stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

bool LiveFeed::join_stream(int limit) {
  std::lock_guard lock(mutex_);
  if (stopped_ || streams_ >= limit) return false;
  ++streams_;
  return true;
}

void LiveFeed::leave_stream() {
  std::lock_guard lock(mutex_);
  --streams_;
}

int LiveFeed::streams() const {
  std::lock_guard lock(mutex_);
  return streams_;
}

}  // namespace shoplink
