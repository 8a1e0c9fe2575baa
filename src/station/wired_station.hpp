#pragma once
// The station every front end runs: the shared context with its timers wired to the handlers
// of the subsystems. The context itself (core) knows no handler; the wiring lives up here.
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "station/timers.hpp"

namespace shoplink {

class WiredStation : public Station {
 public:
  explicit WiredStation(StationServices services) : Station(services) {
    create_timers(*this);
    // A listener of the station's reports that fails is taken off and named once; the
    // station goes on.
    events.on_failure = [this](const std::string& what) {
      log_text(*this,
               "A listener of the station's reports failed and was taken off (" + what + ")");
    };
  }
};

}  // namespace shoplink
