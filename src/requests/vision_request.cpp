#include "requests/vision_request.hpp"

#include "core/station.hpp"
#include "log/system_log.hpp"
#include "receive/vision_conversion.hpp"

namespace shoplink {

void convert_for_vision(Station& s) {
  log_event(s, 30);
  if (Autopath_Vision(s, s.Filename) != kConversionOk) {
    log_event(s, 31);
    return;
  }
  log_event(s, 32);
  s.Filename = s.station_file(kVisionScratch);
  s.filetype = 1;
}

}  // namespace shoplink
