#pragma once
// The code-table data every subsystem reads: the send and receive tables by code type and the
// port controller's command strings, and what a port's code line says its code type is. The
// tables are built by the transmission subsystem at start-up and read-only afterwards.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace shoplink {

struct CodeTables {
  std::array<std::array<std::uint8_t, 256>, 6> send{};     // by code type 0..5
  std::array<std::array<std::uint8_t, 256>, 3> receive{};  // by receive code 0..2
  std::array<std::string, 71> controller_codes{};
};

inline constexpr int kCodeTypes = 6;
// Receive rows (`rx_code`).
inline constexpr int kRxStripParity = 0, kRxEia = 1, kRxNumeric = 2;

// The code type a code line names: its leading number, rounded (no number gives 0). May lie
// outside 0..5; the DNCDATA reader refuses such a port.
int code_type_of(std::string_view code_line);
// "ISO/Ascii (even)", "ASCII (odd )", "ASCII (none)", "EIA RS244-B"; empty for 4, 5 and others.
std::string code_type_name(int type);

}  // namespace shoplink
