#include "plant/plant_wiring.hpp"

#include "core/station.hpp"
#include "plant/mosquitto_link.hpp"

namespace shoplink {

std::unique_ptr<PlantPublisher> make_plant_publisher(Station& s, IoLoop& loop, Journal* journal,
                                                     SnapshotPublisher* snapshot,
                                                     std::vector<std::string>* problems) {
  auto settings = plant_settings(s.paths, problems);
  if (!settings) return nullptr;
  StatusInfo info{settings->station, "", {}};
  auto link = std::make_unique<MosquittoLink>(loop, *settings, status_topic(settings->topic),
                                              will_payload(info));
  return std::make_unique<PlantPublisher>(s, *settings, std::move(link), journal, snapshot);
}

}  // namespace shoplink
