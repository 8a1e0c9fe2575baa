#include "faults.hpp"

#include <random>

#include "machine_codes.hpp"

namespace shoplink::sim {

std::string spoil_parity(std::string bytes, const std::vector<std::size_t>& positions) {
  for (std::size_t p : positions)
    if (p < bytes.size()) bytes[p] = static_cast<char>(static_cast<unsigned char>(bytes[p]) ^ 0x80);
  return bytes;
}

std::string line_noise(std::uint32_t seed, int n) {
  std::mt19937 rng(seed);
  std::string out;
  while (static_cast<int>(out.size()) < n) {
    const auto b = static_cast<unsigned char>(rng() & 0xFF);
    const int a = b & 0x7F;
    if (a == 17 || a == 19 || a == '\r' || a == '\n' || b == 128) continue;
    out.push_back(static_cast<char>(b));
  }
  return out;
}

std::string punched_with_parity_errors(MachineCode c, const std::string& program_text,
                                       const std::string& iso_line_end, int every) {
  std::string bytes;
  std::string line;
  for (char ch : program_text) {
    if (ch != '\n') {
      line.push_back(ch);
      continue;
    }
    bytes += encode_text(c, line) + end_of_block(c, iso_line_end);
    line.clear();
  }
  std::vector<std::size_t> at;
  for (std::size_t i = every > 0 ? static_cast<std::size_t>(every) - 1 : bytes.size();
       i < bytes.size(); i += static_cast<std::size_t>(every)) {
    const int a = static_cast<unsigned char>(bytes[i]) & 0x7F;
    if (a != '\r' && a != '\n') at.push_back(i);  // the block ends stay readable
  }
  return spoil_parity(bytes, at);
}

}  // namespace shoplink::sim
