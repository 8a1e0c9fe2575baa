#pragma once
// A machine whose control takes its programs as raw bytes (a binary control): no parity, no
// line ends, every value 0-255 is data. What it received is judged byte for byte.
#include <string>

#include "machine.hpp"

namespace shoplink::sim {

// `base` made a binary control: eight data bits without parity (none counted as errors), and
// DC1/DC3 bytes in the data do not stop or start its own output.
MachineConfig binary_machine(MachineConfig base = {});

struct BinaryVerdict {
  bool exact = false;
  std::string detail;  // why not: sizes, and the first differing byte with its offset
};

// Some transfer the machine received is exactly `want`.
BinaryVerdict check_binary_transfer(const Machine& machine, const std::string& want);

}  // namespace shoplink::sim
