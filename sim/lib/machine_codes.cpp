#include "machine_codes.hpp"

#include <array>
#include <bit>
#include <cctype>
#include <utility>

namespace shoplink::sim {

namespace {

// RS-244-B rows as punched by the machines of this shop (track 5 = 0x10 is the parity
// track, every code has an odd number of holes; 0x80 is the end of block).
constexpr std::pair<char, std::uint8_t> kEia[] = {
    {'\b', 0x2A}, {'\t', 0x3E}, {'\n', 0x80}, {'\x12', 0x4C}, {'\x14', 0x2F}, {' ', 0x10},
    {'$', 0x5B},  {'%', 0x0B},  {'&', 0x0E},  {'(', 0x1A},    {')', 0x4A},    {'+', 0x70},
    {',', 0x3B},  {'-', 0x40},  {'.', 0x6B},  {'/', 0x31},    {'0', 0x20},    {'1', 0x01},
    {'2', 0x02},  {'3', 0x13},  {'4', 0x04},  {'5', 0x15},    {'6', 0x16},    {'7', 0x07},
    {'8', 0x08},  {'9', 0x19},  {':', 0x46},  {'[', 0x2C},    {']', 0x7C},    {'}', 0x7A},
    {'A', 0x61},  {'B', 0x62},  {'C', 0x73},  {'D', 0x64},    {'E', 0x75},    {'F', 0x76},
    {'G', 0x67},  {'H', 0x68},  {'I', 0x79},  {'J', 0x51},    {'K', 0x52},    {'L', 0x43},
    {'M', 0x54},  {'N', 0x45},  {'O', 0x46},  {'P', 0x57},    {'Q', 0x58},    {'R', 0x49},
    {'S', 0x32},  {'T', 0x23},  {'U', 0x34},  {'V', 0x25},    {'W', 0x26},    {'X', 0x37},
    {'Y', 0x38},  {'Z', 0x29},
};

struct EiaTables {
  std::array<int, 256> enc{};  // character -> byte, -1 none
  std::array<int, 256> dec{};  // byte -> character, -1 none
  EiaTables() {
    enc.fill(-1);
    dec.fill(-1);
    for (auto [ch, b] : kEia) {
      enc[static_cast<unsigned char>(ch)] = b;
      dec[b] = static_cast<unsigned char>(ch);
    }
    for (int c = 'a'; c <= 'z'; ++c) enc[c] = enc[c - 32];
    dec[0x00] = 0;  // blank tape: leader and trailer
    // A reader that ignores the parity track: fill the still-free cleared forms.
    for (auto [ch, b] : kEia) {
      int cleared = b & 0xEF;
      if (dec[cleared] < 0) dec[cleared] = static_cast<unsigned char>(ch);
    }
  }
};

const EiaTables& eia() {
  static const EiaTables t;
  return t;
}

bool even_bits(unsigned v) {
  return std::popcount(v) % 2 == 0;
}

}  // namespace

std::optional<std::uint8_t> encode_char(MachineCode c, unsigned char ch) {
  switch (c) {
    case MachineCode::IsoEven:
    case MachineCode::IsoOdd:
    case MachineCode::IsoNone: {
      unsigned v = ch & 0x7F;
      if (c == MachineCode::IsoNone) return static_cast<std::uint8_t>(v);
      bool need_bit = (c == MachineCode::IsoEven) ? !even_bits(v) : even_bits(v);
      return static_cast<std::uint8_t>(need_bit ? v | 0x80 : v);
    }
    case MachineCode::Eia: {
      int b = eia().enc[ch];
      if (b < 0) return std::nullopt;
      return static_cast<std::uint8_t>(b);
    }
    case MachineCode::Numeric:
      if (ch >= '0' && ch <= '9') return static_cast<std::uint8_t>(ch - '0');
      if (ch == '\n') return std::uint8_t{0x80};
      if (ch == '%') return std::uint8_t{0x4F};
      return std::nullopt;
  }
  return std::nullopt;
}

std::string encode_text(MachineCode c, std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char ch : text)
    if (auto b = encode_char(c, ch)) out.push_back(static_cast<char>(*b));
  return out;
}

std::string end_of_block(MachineCode c, std::string_view iso_line_end) {
  if (c == MachineCode::Eia || c == MachineCode::Numeric) return std::string(1, '\x80');
  return encode_text(c, iso_line_end);
}

char decode_byte(MachineCode c, std::uint8_t b, bool* parity_ok, bool* known) {
  bool ok = true, k = true;
  char out = '?';
  switch (c) {
    case MachineCode::IsoEven:
      ok = even_bits(b);
      out = static_cast<char>(b & 0x7F);
      break;
    case MachineCode::IsoOdd:
      ok = !even_bits(b);
      out = static_cast<char>(b & 0x7F);
      break;
    case MachineCode::IsoNone:
      ok = (b & 0x80) == 0;
      out = static_cast<char>(b & 0x7F);
      break;
    case MachineCode::Eia: {
      int d = eia().dec[b];
      ok = b == 0 || b == 0x80 || !even_bits(b);
      if (d < 0) {
        k = false;
      } else {
        out = static_cast<char>(d);
      }
      break;
    }
    case MachineCode::Numeric:
      if (b <= 9) {
        out = static_cast<char>('0' + b);
      } else if (b == 0x80) {
        out = '\n';
      } else if (b == 0x4F) {
        out = '%';
      } else {
        k = false;
      }
      break;
  }
  if (parity_ok) *parity_ok = ok;
  if (known) *known = k;
  return out;
}

Decoded decode_bytes(MachineCode c, std::string_view bytes) {
  Decoded d;
  d.text.reserve(bytes.size());
  for (unsigned char b : bytes) {
    bool ok = true, known = true;
    d.text.push_back(decode_byte(c, b, &ok, &known));
    if (!ok) ++d.parity_errors;
    if (!known) ++d.unknown;
  }
  return d;
}

std::string code_name(MachineCode c) {
  switch (c) {
    case MachineCode::IsoEven:
      return "even";
    case MachineCode::IsoOdd:
      return "odd";
    case MachineCode::IsoNone:
      return "none";
    case MachineCode::Eia:
      return "eia";
    case MachineCode::Numeric:
      return "numeric";
  }
  return "?";
}

bool parse_code_name(const std::string& text, MachineCode& out) {
  std::string t;
  for (char ch : text) t.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(ch))));
  if (t == "even" || t == "iso" || t == "iso-even")
    out = MachineCode::IsoEven;
  else if (t == "odd" || t == "iso-odd")
    out = MachineCode::IsoOdd;
  else if (t == "none" || t == "ascii" || t == "iso-none")
    out = MachineCode::IsoNone;
  else if (t == "eia")
    out = MachineCode::Eia;
  else if (t == "numeric")
    out = MachineCode::Numeric;
  else
    return false;
  return true;
}

long baud_for_code(int code) {
  static constexpr long kRates[] = {0, 110, 135, 300, 600, 1200, 2400, 4800, 9600};
  return code >= 1 && code <= 8 ? kRates[code] : 0;
}

long PortParams::baud() const {
  return baud_for_code(baud_code);
}

}  // namespace shoplink::sim
