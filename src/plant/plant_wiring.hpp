#pragma once
// The plant publisher as the station's programs run it: settings from the host map, the
// broker reached through libmosquitto on the station's loop.
#include <memory>
#include <string>
#include <vector>

#include "plant/plant_publisher.hpp"

namespace shoplink {

class IoLoop;

// nullptr when MQTT= is not set, or when a setting is wrong (each named in `problems`).
std::unique_ptr<PlantPublisher> make_plant_publisher(Station& s, IoLoop& loop, Journal* journal,
                                                     SnapshotPublisher* snapshot,
                                                     std::vector<std::string>* problems);

}  // namespace shoplink
