#pragma once
// A station read from its directory as `run` reads it and never started: for the commands
// that work beside a running station (history, diff, restore, transfers). Nothing is sent and
// nothing of the station's is written by reading it.
#include "base/clock.hpp"
#include "base/real_loop.hpp"
#include "station/offline_line.hpp"
#include "station/wired_station.hpp"
#include "ui/recorder.hpp"

namespace shoplink {

class HostPaths;

class OfflineStation {
 public:
  explicit OfflineStation(HostPaths& paths);
  // CUSTOMER and DNCDATA (or DNCDATA.8); false when there is no usable DNCDATA.
  bool read_configuration();
  Station& station() { return s_; }

 private:
  RealClock clock_;
  RealLoop loop_{clock_};
  OfflineLine line_;
  RecordingWindow window_;
  RecordingDialogs dialogs_;
  RecordingPlatform platform_;
  WiredStation s_;
};

}  // namespace shoplink
