#include "transmit/code_tables.hpp"

#include <bit>
#include <utility>

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/station.hpp"

namespace shoplink {

using namespace ctl;

namespace {

// RS-244-B tape code (letters, digits, space and the usual punctuation) plus the station's
// own assignments for the controls and brackets. Every value has odd parity on 8 tracks.
constexpr std::pair<int, std::uint8_t> kEia[] = {
    {0, 0x10},   {8, 0x2A},   {9, 0x3E},   {10, 0x80},  {18, 0x4C},  {20, 0x2F},  {' ', 0x10},
    {'$', 0x5B}, {'%', 0x0B}, {'&', 0x0E}, {'(', 0x1A}, {')', 0x4A}, {'+', 0x70}, {',', 0x3B},
    {'-', 0x40}, {'.', 0x6B}, {'/', 0x31}, {'0', 0x20}, {'1', 0x01}, {'2', 0x02}, {'3', 0x13},
    {'4', 0x04}, {'5', 0x15}, {'6', 0x16}, {'7', 0x07}, {'8', 0x08}, {'9', 0x19}, {':', 0x46},
    {'[', 0x2C}, {']', 0x7C}, {'{', 0x7C}, {'}', 0x7A}, {209, 0x3E}, {'A', 0x61}, {'B', 0x62},
    {'C', 0x73}, {'D', 0x64}, {'E', 0x75}, {'F', 0x76}, {'G', 0x67}, {'H', 0x68}, {'I', 0x79},
    {'J', 0x51}, {'K', 0x52}, {'L', 0x43}, {'M', 0x54}, {'N', 0x45}, {'O', 0x46}, {'P', 0x57},
    {'Q', 0x58}, {'R', 0x49}, {'S', 0x32}, {'T', 0x23}, {'U', 0x34}, {'V', 0x25}, {'W', 0x26},
    {'X', 0x37}, {'Y', 0x38}, {'Z', 0x29},
};

constexpr std::uint8_t kEiaParityTrack = 0x10;

}  // namespace

void build_code_tables(CodeTables& codes) {
  auto& send = codes.send;
  auto& receive = codes.receive;
  send = {};
  receive = {};

  // ASCII with even, odd and no parity in bit 7; codes 128-255 stay 0.
  for (int c = 0; c < 128; ++c) {
    const auto b = static_cast<std::uint8_t>(c);
    const bool even = std::popcount(b) % 2 == 0;
    send[0][c] = even ? b : static_cast<std::uint8_t>(b + 128);
    send[1][c] = even ? static_cast<std::uint8_t>(b + 128) : b;
    send[2][c] = b;
  }

  auto& eia = send[3];
  for (const auto& [c, code] : kEia) eia[c] = code;

  // EIA to ASCII, taken before the lower-case letters join the row so that a code reads back
  // as its upper-case letter; each code is also recognised without its parity track. Later
  // characters overwrite earlier ones (so 00 reads as 255 and 3E as 209).
  for (int c = 0; c < 256; ++c) {
    receive[kRxEia][eia[c]] = static_cast<std::uint8_t>(c);
    receive[kRxEia][eia[c] & ~kEiaParityTrack & 0xFF] = static_cast<std::uint8_t>(c);
  }

  for (int c = 'a'; c <= 'z'; ++c) eia[c] = eia[c - 'a' + 'A'];

  for (int c = 0; c < 256; ++c) send[4][c] = eia[c] & ~kEiaParityTrack & 0xFF;

  for (int d = 0; d <= 9; ++d) send[5]['0' + d] = static_cast<std::uint8_t>(d);
  send[5][0] = 0x4F;
  send[5]['\n'] = 0x80;
  send[5]['%'] = 0x4F;

  for (int b = 0; b < 128; ++b) {
    receive[kRxStripParity][b] = static_cast<std::uint8_t>(b);
    receive[kRxStripParity][b + 128] = static_cast<std::uint8_t>(b);
  }

  for (int d = 0; d <= 9; ++d) receive[kRxNumeric][d] = static_cast<std::uint8_t>('0' + d);
  receive[kRxNumeric][128] = '\n';

  auto& cc = codes.controller_codes;
  cc = {};
  cc[0] = {DC4, 'J', DC4, 'K'};
  for (int n = 1; n <= 8; ++n) cc[n] = {DC4, static_cast<char>('0' + n), DC4, 'Q'};
  cc[9] = {DC4, 'J'};
  cc[10] = {DC4, 'I'};
}

void build_code_tables(Station& s) {
  build_code_tables(s.codes);
}

std::string code_convert(Station& s, std::string& text) {
  const PortSettings& p = s.cur();
  if (contains(p.code_line, "MHP")) {
    if (auto pct = text.find('%'); pct != std::string::npos)
      text.insert(pct + 1, std::string(30, '\0'));
  }
  // The DNCDATA reader refuses other code types; guard the lookup all the same.
  const int t = p.code_type >= 0 && p.code_type < kCodeTypes ? p.code_type : 0;
  const auto& row = s.codes.send[static_cast<std::size_t>(t)];
  for (char& ch : text) ch = static_cast<char>(row[static_cast<unsigned char>(ch)]);
  return text;
}

}  // namespace shoplink
