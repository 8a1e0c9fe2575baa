#include "core/station.hpp"

#include "core/timers.hpp"

namespace shoplink {

Station::Station(StationServices s)
    : loop(s.loop),
      line(s.line),
      window(s.window),
      dialogs(s.dialogs),
      platform(s.platform),
      paths(s.paths) {
  create_timers(*this);
}

}  // namespace shoplink
