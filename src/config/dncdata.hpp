#pragma once
// The DNCDATA file: host port and queue directory, station defaults, the system log, and a
// five-line block for each of the eight machine ports.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace shoplink {

class Station;

// Fills s.config and s.ports[1..8] from DNCDATA.8 (preferred) or DNCDATA in the station
// directory, copies the file to the remote queue directory, deletes leftover queue command
// files and logs the start and the customer name. On a missing or broken file it shows the
// error box, ends the program (status 2) and returns false; nothing is logged then.
bool read_dncdata(Station& s);

enum class DncdataStatus {
  Ok,
  Missing,        // neither DNCDATA.8 nor DNCDATA
  Unreadable,     // cannot be read, or longer than kMaxDncdataLines
  BrokenOptions,  // `port`'s option area begins with a command character assignment
  BadCodeType,    // `port`'s code type is not one of 0 to 5
};

struct DncdataReading {
  DncdataStatus status = DncdataStatus::Ok;
  int port = 0;
  std::filesystem::path file;  // the file read (host path)
  std::size_t line_count = 0;
  bool queue_dir_named = false;  // line 1 names a queue directory of its own
};

// The reading alone, shared by start-up and the commissioning check: fills s.config and
// s.ports[1..8] as far as the file allows and touches nothing else (no copy, no removal,
// no log entry, no message box).
DncdataReading parse_dncdata(Station& s);

// "13,10" → CR LF: numbers (each AND 255) ended by commas, read from the first 32
// characters; the list ends at the first other character, where a pending number is dropped.
std::string char_list(std::string_view text);

// "D" → "D:\", "D:" → "D:\"; anything else unchanged.
std::string normalise_dir(std::string dir);

inline constexpr int kMaxDncdataLines = 350;
inline constexpr const char* kQueueCommandFile = "SHOPLINK Queue command";

}  // namespace shoplink
