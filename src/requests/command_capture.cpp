#include "requests/command_capture.hpp"

#include <algorithm>
#include <cstdio>

#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "requests/command_interpreter.hpp"
#include "transmit/reply_output.hpp"

namespace shoplink {

namespace {

constexpr int ETX = 3, ENQ = 5, ACK = 6, LF = 10, CR = 13, ESC = 27;
constexpr unsigned char kEiaEndOfBlock = 128;
constexpr const char* kCrLf = "\r\n";

// "!S" on a LYNX port asks for the file-name prompt.
bool lynx_prompt(Station& s) {
  const std::string& rx = s.rx_string;
  if (rx.size() != 2 || rx[0] != '!' || rx[1] != 'S') return false;
  if (!contains(s.cur().code_line, "LYNX")) return false;
  send_reply(s, std::string("ENTER FILE NAME:") + static_cast<char>(ETX));
  s.rx_string.clear();
  s.Lynx_request = true;
  const double delay = std::min(s.cur().delay_ms, 2e9);
  s.Timer6.set_interval(delay > 30000 ? static_cast<int>(round_int(delay)) : 30000);
  s.Timer6.start();
  return true;
}

// The Burny CLINK enquiry ESC ENQ is answered with ACK; its characters stay in rx_string.
void burny_handshake(Station& s, int a) {
  if (a == ESC) {
    s.WEID = 1;
  } else if (a == ENQ && s.WEID == 1) {
    sendchar2(s, std::string(1, static_cast<char>(ACK)));
    s.WEID = 2;
  } else if (a == ETX && s.WEID == 2) {
    s.WEID = 3;
  }
}

// Position (0-based) of the first block end in rx_string at or after `from`: CR or LF with
// bit 7 cleared (ASCII), or the EIA end-of-block byte; npos when the block is not complete
// yet.
std::size_t find_block_end(Station& s, std::size_t from, std::int16_t& code) {
  const std::string& rx = s.rx_string;
  for (std::size_t i = from; i < rx.size(); ++i) {
    ++s.capture_examined;
    const auto byte = static_cast<unsigned char>(rx[i]);
    const int a = byte & 127;
    if (a == LF || a == CR) {
      code = 0;
      return i;
    }
    if (byte == kEiaEndOfBlock) {
      code = 1;
      return i;
    }
  }
  return std::string::npos;
}

// Runs the enquiry handshake over rx_string[from, to).
void handshake_walk(Station& s, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to && i < s.rx_string.size(); ++i)
    burny_handshake(s, static_cast<unsigned char>(s.rx_string[i]) & 127);
}

// What follows a block end belongs to the next command. Its handshake is run now, so that
// every character before the first block end has been walked once when the next call comes.
void walk_remainder(Station& s) {
  s.rx_searched = 0;
  if (s.mode != Mode::Scanning) return;
  std::int16_t code = 0;
  const std::size_t end = find_block_end(s, 0, code);
  s.rx_searched = end == std::string::npos ? s.rx_string.size() : end;
  handshake_walk(s, 0, s.rx_searched);
}

// A command this long is none: its characters are dropped so the buffer stays bounded. The
// port stays with the machine until its silence ends the command, as for any unfinished one.
void discard_overlong_command(Station& s) {
  s.rx_string.clear();
  s.rx_searched = 0;
  if (s.command_overflow_reported) return;
  s.command_overflow_reported = true;
  const std::string text = "Port" + str(s.port) + " - command longer than " +
                           std::to_string(kCommandBufferLimit) + " characters discarded";
  s.window.set_status(text);
  log_text(s, text);
}

// Translates the block through the receive row into rx_line and keeps only what follows its
// end in rx_string. The Xon/Xoff family (DC1..DC4) is dropped.
void decode_block(Station& s) {
  const int row = std::clamp<int>(s.rx_code, 0, static_cast<int>(s.codes.receive.size()) - 1);
  const auto& table = s.codes.receive[static_cast<std::size_t>(row)];
  std::size_t i = 0;
  for (; i < s.rx_string.size(); ++i) {
    const int c = table[static_cast<unsigned char>(s.rx_string[i])];
    if (c == LF || c == CR) break;
    if (c >= 17 && c <= 20) continue;
    s.rx_line += static_cast<char>(c);
  }
  s.rx_string.erase(0, std::min(i + 1, s.rx_string.size()));
}

void show_and_log(Station& s) {
  const bool eia = s.rx_code == 1;
  log_event(s, eia ? 20 : 21);
  // An upload's first line comes here only to tell its code: it shows when it is stored.
  if (s.mode == Mode::Receiving && s.receiving == 1 && s.files.is_open(s.Openfile)) return;
  s.inputtext =
      std::string(eia ? "(Receiving EIA command:)" : "(Receiving ASCII command:)") + kCrLf;
  s.inputtext += "<" + s.rx_line + ">" + kCrLf;
}

}  // namespace

void capture_command(Station& s, std::size_t fresh) {
  s.Timer13.stop();
  if (s.rx_string.empty()) {
    s.Timer13.set_enabled(true);
    return;
  }
  lynx_prompt(s);
  const std::size_t size = s.rx_string.size();
  const std::size_t first_fresh = fresh >= size ? 0 : size - fresh;
  // Only what arrived since, or what an earlier call left unsearched, can hold the end.
  const std::size_t searched = s.rx_searched <= size ? s.rx_searched : 0;
  std::int16_t code = 0;
  const std::size_t end = find_block_end(s, std::min(searched, first_fresh), code);
  handshake_walk(s, first_fresh, end == std::string::npos ? size : end);
  if (end == std::string::npos) {
    s.rx_searched = size;
    if (s.mode == Mode::Scanning && size > kCommandBufferLimit) discard_overlong_command(s);
    s.Timer13.set_enabled(true);
    return;
  }
  s.rx_code = code;
  s.rx_code_unknown = 0;
  s.Timer13.stop();
  s.Timer6.stop();
  decode_block(s);
  if (s.rx_line.empty()) {
    walk_remainder(s);
    s.Timer6.set_enabled(true);
    s.Timer13.set_enabled(true);
    return;
  }
  if (s.showdata > 0) show_and_log(s);
  if (s.mode == Mode::Scanning) process_command(s);
  walk_remainder(s);
  s.Timer13.set_enabled(true);
}

std::string filter_input(Station& s) {
  std::string line;
  std::FILE* f = s.files.get(s.Openfile);
  if (f == nullptr) return line;
  for (int ch; (ch = std::fgetc(f)) != EOF;) {
    const int a = ch & 127;
    if (a == LF) break;
    if (a < 32 && a != 9) continue;
    line += static_cast<char>(a);
  }
  return line;
}

}  // namespace shoplink
