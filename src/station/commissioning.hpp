#pragma once
// Commissioning a station: `shoplink init` writes a starter station directory, `shoplink
// check` reads one exactly as `run` does and says what it understood and what is wrong,
// without touching the host line's traffic, the log or any file.
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace shoplink {

// Writes the starter files and folders into `dir` (made when missing). An existing file is
// never replaced: it is kept and named on `out`. Returns 0, or 1 when something could not
// be written (named on `err`).
int init_station_dir(const std::filesystem::path& dir, std::ostream& out, std::ostream& err);

// What `check` found: the report lines and the problems.
struct CheckReport {
  std::vector<std::string> lines;
  std::vector<std::string> problems;
};

// Reads `station_dir` with its HOSTMAP and the `maps` (NAME=VALUE, which win) the way
// `run` does. Never writes.
CheckReport check_station(const std::filesystem::path& station_dir,
                          const std::vector<std::string>& maps);

// Prints the report and the problem list; returns 0 when there is no problem, else 1.
int print_check(const CheckReport& report, std::ostream& out);

// The starter files `init` writes, relative to the station directory.
inline constexpr const char* kStarterProgramDir = "PROGRAMS";
inline constexpr const char* kStarterProgram = "PROGRAMS/O0001.NC";

}  // namespace shoplink
