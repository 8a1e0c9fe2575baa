#include "station/offline_station.hpp"

#include "config/dncdata.hpp"
#include "station/customer_profile.hpp"

namespace shoplink {

OfflineStation::OfflineStation(HostPaths& paths)
    : s_({loop_, line_, window_, dialogs_, platform_, paths}) {}

bool OfflineStation::read_configuration() {
  load_customer_profile(s_);
  const DncdataReading r = parse_dncdata(s_);
  return r.status != DncdataStatus::Missing && r.status != DncdataStatus::Unreadable;
}

}  // namespace shoplink
