#pragma once
// The sites whose own conventions change requests, uploads, listings and activity records.
// One rule decides them all: the site key is looked for in the configured text upper-cased,
// anywhere in it. Two sites need their city as well.
#include "base/text.hpp"
#include "core/station.hpp"

namespace shoplink::site {

// The key (upper case) occurs anywhere in the upper-cased text; an empty text is no site.
inline bool matches(std::string_view configured, std::string_view key) {
  return !configured.empty() && contains(ucase(configured), key);
}

inline bool is(const Station& s, std::string_view name) {
  return matches(s.Customer_name, name);
}
inline bool city_is(const Station& s, std::string_view city) {
  return matches(s.Customer_city_state, city);
}

// In the order the interpreter meets them.
inline bool kessler_supply(const Station& s) {
  return is(s, "KESSLER SUPPLY");
}
inline bool glenmore_metal(const Station& s) {
  return is(s, "GLENMORE METAL");
}
inline bool ashcroft_screw(const Station& s) {
  return is(s, "ASHCROFT SCREW");
}
inline bool hadley_tool(const Station& s) {
  return is(s, "HADLEY TOOL");
}
inline bool skylark(const Station& s) {
  return is(s, "SKYLARK");
}
inline bool kel_bran(const Station& s) {
  return is(s, "KEL-BRAN");
}
inline bool corrigan(const Station& s) {
  return is(s, "CORRIGAN");
}
// Decided once at start-up (the shift files are named from then on).
inline bool sable_carbon(const Station& s) {
  return s.Sable_carbon;
}
inline bool beacon_manufacturing(const Station& s) {
  return is(s, "BEACON MANUFACTURING");
}
inline bool lakeside_roll(const Station& s) {
  return is(s, "LAKESIDE ROLL");
}
inline bool garnet_manufacturing(const Station& s) {
  return is(s, "GARNET MANUFACTURING");
}
inline bool cadence_productions(const Station& s) {
  return is(s, "CADENCE PRODUCTIONS");
}
// Decided once at start-up, when the cross references are read.
inline bool dun_varley(const Station& s) {
  return s.Dun_Varley;
}
inline bool westbrook(const Station& s) {
  return is(s, "WESTBROOK");
}
inline bool holloway_engineering(const Station& s) {
  return is(s, "HOLLOWAY ENGINEERING");
}
inline bool fenwick_marlow(const Station& s) {
  return is(s, "FENWICK") && city_is(s, "MARLOW");
}
inline bool kzv_ashbourne(const Station& s) {
  return is(s, "KZV COMPANY") && city_is(s, "ASHBOURNE");
}

// Transmission sites.
inline bool maplegate_technologies(const Station& s) {
  return is(s, "MAPLEGATE TECHNOLOGIES");
}

}  // namespace shoplink::site
