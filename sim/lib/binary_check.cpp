#include "binary_check.hpp"

#include <cstdio>

namespace shoplink::sim {

namespace {

std::string hex(unsigned char b) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", b);
  return buf;
}

// Where `got` first differs from `want`, told for a person.
std::string first_difference(const std::string& got, const std::string& want) {
  std::string d =
      "got " + std::to_string(got.size()) + " bytes, want " + std::to_string(want.size());
  for (std::size_t k = 0; k < std::min(got.size(), want.size()); ++k) {
    if (got[k] != want[k]) {
      return d + "; first difference at byte " + std::to_string(k) + ": got " +
             hex(static_cast<unsigned char>(got[k])) + ", want " +
             hex(static_cast<unsigned char>(want[k]));
    }
  }
  return d;
}

}  // namespace

MachineConfig binary_machine(MachineConfig base) {
  base.code = MachineCode::IsoNone;
  base.honour_xoff = false;
  base.binary = true;
  return base;
}

BinaryVerdict check_binary_transfer(const Machine& machine, const std::string& want) {
  const auto programs = machine.programs();
  for (const auto& p : programs)
    if (p.raw == want) return {true, {}};
  if (programs.empty()) return {false, "nothing received"};
  return {false, std::to_string(programs.size()) + " transfer(s), none exact; the last one: " +
                     first_difference(programs.back().raw, want)};
}

}  // namespace shoplink::sim
