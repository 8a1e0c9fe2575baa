#pragma once
// The machines' day from the journal: when each machine was in a cycle, idle or down,
// drawn from the cycle start and finish events, with cycles counted and the average cycle
// time per program.
//
// A machine is in a cycle from its cycle start to its cycle finish; down while the station
// is stopped, its host line lost or dead, or the machine stopped for a tool change; idle
// otherwise. A cycle start during a cycle, or a station stop, abandons the cycle under way
// (not counted); a finish without a start counts nothing. A cycle counts on the day it
// finishes, for the program last sent to the machine whole before it started.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/station_state.hpp"
#include "web/journal_view.hpp"

namespace shoplink {

enum class MachineState { NoData, Idle, Cycle, Down };

struct StateSpan {
  std::int64_t from = 0, to = 0;  // seconds from the day's start
  MachineState state = MachineState::NoData;
};

struct ProgramCycles {
  std::string program;  // host path; empty when no program was sent before the cycle
  int cycles = 0;
  std::int64_t seconds = 0;  // all its cycles together
};

struct MachineDay {
  int port = 0;
  std::string machine;
  std::vector<StateSpan> spans;  // in order, adjacent ones of one state merged
  int cycles = 0;
  std::int64_t in_cycle = 0, idle = 0, down = 0;  // seconds
  std::vector<ProgramCycles> programs;            // most cycles first
  std::vector<int> shift_cycles;                  // cycles finished in each shift
};

struct ActivityDay {
  std::string day;             // YYYY-MM-DD
  std::int64_t shown = 86400;  // seconds of the day drawn: all of it, or until now for today
  std::vector<int> shifts;     // the shifts' starts, seconds from midnight, ascending
  std::array<MachineDay, NumPorts> machines;
};

// `rows` from the start of the day before to the end of `day`; `names` the machines' names
// now (a row's own name where empty).
ActivityDay activity_day(const std::string& day, const ActivityRows& rows, std::int64_t shown,
                         const std::vector<int>& shifts,
                         const std::array<std::string, NumPorts>& names);

// The day as an SVG timeline, one row per machine, at most one rectangle per pixel column.
std::string activity_svg(const ActivityDay& d);

}  // namespace shoplink
