#pragma once
// Faults of the wire between a machine and the controller, as bytes: parity spoiled by a
// noisy line and bursts of noise. The controller's power and the host line's CTS are
// switched on the models themselves (PortController::set_powered, SimLine::set_cts_forced_off).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim_types.hpp"

namespace shoplink::sim {

// `bytes` with the top (parity) bit of each byte at `positions` flipped.
std::string spoil_parity(std::string bytes, const std::vector<std::size_t>& positions);

// `n` bytes of line noise from `seed`: anything but the flow-control characters DC1 and DC3
// (with or without parity) and the end-of-block characters, so the noise garbles text but
// neither holds a line nor ends a block.
std::string line_noise(std::uint32_t seed, int n);

// A program as a machine of code `c` punches it (each line and its end of block), with the
// parity of every `every`-th byte spoiled.
std::string punched_with_parity_errors(MachineCode c, const std::string& program_text,
                                       const std::string& iso_line_end, int every);

}  // namespace shoplink::sim
