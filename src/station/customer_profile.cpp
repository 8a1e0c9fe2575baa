#include "station/customer_profile.hpp"

#include <cstdio>

#include "base/text.hpp"
#include "config/leader_trailer.hpp"
#include "core/station.hpp"
#include "receive/site_names.hpp"
#include "transmit/shift_file.hpp"

namespace shoplink {

void load_customer_profile(Station& s) {
  s.Timer7.start();

  std::string name, city;
  if (std::FILE* f = std::fopen(s.paths.existing(s.station_file(kCustomerFile)).c_str(), "rb")) {
    if (FileTable::read_line(f, name)) FileTable::read_line(f, city);
    std::fclose(f);
  }
  s.Customer_name = name;

  s.Sable_carbon = site::matches(name, "SABLE CARBON");
  if (s.Sable_carbon) Sable_carbon_mod3(s);
  if (site::matches(name, "DUN-VARLEY") || site::matches(name, "DUN VARLEY")) {
    read_xref(s);
    s.Dun_Varley = true;
  }
  s.Customer_city_state = city;
}

}  // namespace shoplink
