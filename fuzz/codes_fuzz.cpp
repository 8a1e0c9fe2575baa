// Code conversion both ways on every code type: any text converts through the send table
// without fault, and what the machine would get back through the receive table is the
// original character for every character the code can carry.
#include <cstddef>
#include <cstdint>

#include "core/code_types.hpp"
#include "fuzz_rig.hpp"
#include "transmit/code_tables.hpp"

using namespace shoplink;

namespace {
const CodeTables& tables() {
  static const CodeTables t = [] {
    CodeTables c;
    build_code_tables(c);
    return c;
  }();
  return t;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const CodeTables& t = tables();
  const int type = data[0] % kCodeTypes;
  // The receive row a code type is read back with: ISO strips the parity bit, EIA has its
  // own row, the numeric code its own.
  const int row = type == 3 || type == 4 ? kRxEia : type == 5 ? kRxNumeric : kRxStripParity;
  for (std::size_t i = 1; i < size; ++i) {
    const std::uint8_t c = data[i] & 0x7F;
    const std::uint8_t sent = t.send[static_cast<std::size_t>(type)][c];
    const std::uint8_t back = t.receive[static_cast<std::size_t>(row)][sent];
    // ISO keeps every 7-bit character; a character with no code is sent as 0 and not
    // compared.
    if (type <= 2 && back != c) fuzzing::fail("ISO character not read back: " + std::to_string(c));
    if (type == 3 && sent != 0 && c >= 'A' && c <= 'Z' && back != c)
      fuzzing::fail("EIA letter not read back: " + std::to_string(c));
  }
  return 0;
}
