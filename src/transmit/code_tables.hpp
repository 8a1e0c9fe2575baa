#pragma once
// Send and receive code tables and the port controller's command strings; built once at
// start-up and read-only afterwards.
#include <array>
#include <cstdint>
#include <string>

namespace shoplink {

struct CodeTables {
  std::array<std::array<std::uint8_t, 256>, 6> send{};     // by code type 0..5
  std::array<std::array<std::uint8_t, 256>, 3> receive{};  // by receive code 0..2
  std::array<std::string, 71> controller_codes{};
};

}  // namespace shoplink
