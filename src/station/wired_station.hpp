#pragma once
// The station every front end runs: the shared context with its timers wired to the handlers
// of the subsystems. The context itself (core) knows no handler; the wiring lives up here.
#include "core/station.hpp"
#include "station/timers.hpp"

namespace shoplink {

class WiredStation : public Station {
 public:
  explicit WiredStation(StationServices services) : Station(services) { create_timers(*this); }
};

}  // namespace shoplink
