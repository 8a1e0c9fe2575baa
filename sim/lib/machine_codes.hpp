#pragma once
// A machine's own character code: how its control punches text onto the line and reads
// it back. Written from the tape standards (ISO parity, EIA RS-244-B) as the machines
// know them, not taken from the station.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim_types.hpp"

namespace shoplink::sim {

// The byte a machine of code `c` sends for the character `ch`; nullopt when the code
// has no such character (an EIA control cannot punch a CR).
std::optional<std::uint8_t> encode_char(MachineCode c, unsigned char ch);
// Text through encode_char; characters without a code are left out.
std::string encode_text(MachineCode c, std::string_view text);
// The end of block a machine sends after a line: `iso_line_end` encoded for ISO codes,
// the byte 128 for EIA and numeric.
std::string end_of_block(MachineCode c, std::string_view iso_line_end);

struct Decoded {
  std::string text;
  int parity_errors = 0;  // ISO bytes whose parity bit is wrong, EIA bytes with even holes
  int unknown = 0;        // bytes without a meaning in the code (shown as '?')
};
// What the machine reads from received bytes. EIA: 128 is the end of block (LF), a blank
// tape byte (0) is NUL; ISO: the parity bit is checked and removed.
Decoded decode_bytes(MachineCode c, std::string_view bytes);
char decode_byte(MachineCode c, std::uint8_t b, bool* parity_ok = nullptr, bool* known = nullptr);

}  // namespace shoplink::sim
