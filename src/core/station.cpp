#include "core/station.hpp"

namespace shoplink {

Station::Station(StationServices s)
    : loop(s.loop),
      line(s.line),
      window(s.window),
      dialogs(s.dialogs),
      platform(s.platform),
      paths(s.paths) {}

}  // namespace shoplink
