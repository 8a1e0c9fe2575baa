#pragma once
// Joins the desktop window's menus, keys, selector, buttons and port tiles to the station.
#include "core/station_snapshot.hpp"

namespace shoplink {
class QtWindow;
class Station;

void connect_window(QtWindow& window, Station& s);

// The window's port tiles fed from the station's snapshot, at most every
// QtWindow::kTileRefresh, for as long as this lives.
class PortTilesFeed {
 public:
  PortTilesFeed(QtWindow& window, Station& s);
  ~PortTilesFeed();
  PortTilesFeed(const PortTilesFeed&) = delete;
  PortTilesFeed& operator=(const PortTilesFeed&) = delete;
  SnapshotPublisher& publisher() { return snapshots_; }

 private:
  Station& s_;
  SnapshotPublisher snapshots_;
};

}  // namespace shoplink
