#pragma once
// The sites whose own conventions change uploads, listings and activity records: each is a
// substring of the configured customer name, compared upper-cased.
#include "base/text.hpp"
#include "core/station.hpp"

namespace shoplink::site {

inline bool is(const Station& s, std::string_view name) {
  return contains(ucase(s.Customer_name), name);
}

inline bool hadley_tool(const Station& s) {
  return is(s, "HADLEY TOOL");
}
inline bool kessler_supply(const Station& s) {
  return is(s, "KESSLER SUPPLY");
}
inline bool beacon_manufacturing(const Station& s) {
  return is(s, "BEACON MANUFACTURING");
}
inline bool cadence_productions(const Station& s) {
  return is(s, "CADENCE PRODUCTIONS");
}
inline bool lakeside_roll(const Station& s) {
  return is(s, "LAKESIDE ROLL");
}
inline bool garnet_manufacturing(const Station& s) {
  return is(s, "GARNET MANUFACTURING");
}
inline bool corrigan(const Station& s) {
  return is(s, "CORRIGAN");
}
inline bool maplegate_technologies(const Station& s) {
  return is(s, "MAPLEGATE TECHNOLOGIES");
}
inline bool skylark(const Station& s) {
  return is(s, "SKYLARK");
}

}  // namespace shoplink::site
